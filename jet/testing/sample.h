// Synthetic databases for benchmarks and tests: realistic tables with text, memo, numbers,
// dates and indexes, of any size, made deterministically (the same options give the same file).
//
//   clientes  id (AutoNumber, primary key), nome Text(60) indexed, cidade Text(40) indexed,
//             ativo Yes/No, limite Currency, desde Date/Time
//   pedidos   id (AutoNumber, primary key), cliente Long indexed, data Date/Time indexed,
//             quantidade Integer, peso Double, prioridade Byte, codigo GUID, entregue Yes/No,
//             valor Currency, descricao Text(120), observacao Memo (empty, short, a page or
//             several pages long)
// `rows` pedidos rows and rows / 10 + 1 clientes rows. A bloated database also holds deleted
// rows (about one per two live rows, long values left out) and free pages with stale data
// (about a third of the file), as a database used for a long time without compaction has.
#pragma once

#include <cstdint>
#include <string>

#include "jet/base/env.h"
#include "jet/base/value.h"
#include "jet/format/schema.h"

namespace jet {

struct SampleOptions {
    Version version = Version::kJet4;
    uint64_t rows = 1000;
    bool bloat = false;
    size_t sort_memory = 32u << 20;
    uint32_t encryption_key = 0;  // page key: 0 = pages in clear (new_database.h)
    std::u16string password;      // database password (in page 0); empty = none
};

// Writes the sample database at `path` (replacing an existing file).
void CreateSample(Env* env, const std::string& path, const SampleOptions& options);

// The definitions and rows the sample holds, for tests that compare what a reader returns.
TableDef SampleClientesDef();
TableDef SamplePedidosDef();
uint64_t SampleClientesRows(uint64_t rows);
Row SampleClientesRow(uint64_t i);
Row SamplePedidosRow(uint64_t i, uint64_t rows);

}  // namespace jet
