// What the window's procedures use of the engine interface (dao/dbengine.h) beside the
// engine itself (Form1::DBEngine(), one for each run): the object a database variable refers
// to, and the lines a repair's losses give in the log.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dao/dbengine.h"

// The database `variable` refers to. REQUIRES: nothing; a variable that holds no object
// raises VB error 91, as using an unset object variable does.
dao::Database& Objeto(const std::shared_ptr<dao::Database>& variable);

// What a repair lost, as the run logs it after the repair's line: one line per table that
// lost rows, values or pages ("Reparo: tabela Clientes: 12 linhas perdidas, 1 valor
// cortado."), or that came back without its name, and one per table lost whole. Rows left on
// pages outside their table's page map were never part of the table and are not named.
// First, when the repair had to give the database General order because the keys of its
// text indexes could not be carried over, a line saying so (no loss: every row is kept).
// Nothing for a repair that lost nothing.
std::vector<std::string> RepairLogLines(const jet::RepairReport& report);
