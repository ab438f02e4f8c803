// The client fixtures: small databases holding the table `tavo` (id Long primary key, nome
// Text, bloqueado flag) that the maintenance run locks and unlocks.
//   tavo.mdb   bloqueado is Yes/No (Boolean)
//   tavo1.mdb  bloqueado is Integer
// Rows (id, nome, bloqueado): (1, "Tavo 1", no), (2, "Tavo 2", yes), (3, "Tavo 3", no),
// (4, "Tavo 4", yes), (5, "Tavo 5", no); yes is True / -1, no is False / 0.
#pragma once

#include <string>

#include "jet/base/env.h"
#include "jet/format/schema.h"

namespace jet {

enum class TavoFlag { kBoolean, kInteger };

constexpr int kTavoRows = 5;

// Writes one fixture at `path` (replacing an existing file). `rows` other than kTavoRows
// gives a larger table of the same shape (tests that need the flags over several pages).
void CreateTavoFixture(Env* env, const std::string& path, Version version, TavoFlag flag,
                       int rows = kTavoRows);

// Writes tavo.mdb (Boolean) and tavo1.mdb (Integer) into `folder`.
void CreateClientFixtures(Env* env, const std::string& folder, Version version = Version::kJet4);

}  // namespace jet
