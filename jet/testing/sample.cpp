#include "jet/testing/sample.h"

#include <array>
#include <cmath>

#include "jet/base/put_bytes.h"
#include "jet/format/header.h"
#include "jet/write/new_database.h"
#include "jet/write/page_builder.h"

namespace jet {

namespace {

constexpr double kSampleDate = 45306.0;  // catalog date: 2024-01-15

// splitmix64: a fixed, well-mixed function of the row number, so rows are reproducible.
uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

const std::array<const char16_t*, 16> kSyllables = {u"ma", u"ri", u"jo", u"sé", u"an",  u"to",
                                                    u"ni", u"lu", u"ca", u"be", u"ção", u"fe",
                                                    u"pa", u"ul", u"ra", u"go"};
const std::array<const char16_t*, 12> kCities = {
    u"São Paulo",    u"Rio de Janeiro", u"Belo Horizonte", u"Florianópolis",
    u"Porto Alegre", u"Curitiba",       u"Belém",          u"Goiânia",
    u"Maceió",       u"Niterói",        u"Vitória",        u"Cuiabá"};
const std::array<const char16_t*, 16> kWords = {
    u"pedido",  u"entrega",        u"urgente",   u"cliente",
    u"produto", u"caixa",          u"nota",      u"fiscal",
    u"prazo",   u"transportadora", u"devolução", u"conferência",
    u"estoque", u"pagamento",      u"boleto",    u"peça"};

std::u16string Name(uint64_t h) {
    std::u16string s;
    int n = 2 + static_cast<int>(h % 3);
    for (int i = 0; i < n; ++i) s += kSyllables[(h >> (4 * i + 8)) % kSyllables.size()];
    s[0] = static_cast<char16_t>(s[0] - 32);  // first syllables start with a lowercase ASCII letter
    return s;
}

std::u16string Words(uint64_t h, size_t chars) {
    std::u16string s;
    uint64_t x = h;
    while (s.size() < chars) {
        x = Mix(x);
        if (!s.empty()) s += u' ';
        s += kWords[x % kWords.size()];
        if (x % 37 == 0) s += u" €";  // a character outside Latin-1 now and then
    }
    s.resize(chars);
    while (!s.empty() && s.back() == u' ') s.pop_back();
    return s;
}

int64_t Currency(uint64_t h, uint64_t range) {
    return static_cast<int64_t>(h % range) * 100;  // whole cents, scaled by 10000
}

// A page that looks like a table data page but belongs to nothing: what a file keeps after
// rows were deleted and pages freed.
Bytes StalePage(Version v, uint32_t seed) {
    DataPageBuilder page(v);
    page.Reset(0x00FFFFFFu & Mix(seed));
    Bytes row(40);
    for (int i = 0; i < 20; ++i) {
        uint64_t x = Mix(seed * 31u + static_cast<uint64_t>(i));
        for (size_t k = 0; k < row.size(); ++k) row[k] = static_cast<uint8_t>(x >> (k % 8 * 8));
        page.Add(row, kRowDeleted | kRowOverflow);
    }
    return page.page();
}

}  // namespace

TableDef SampleClientesDef() {
    TableDef t;
    t.name = "clientes";
    t.columns = {
        NewColumn("id", ColumnType::kLong, 0, true), NewColumn("nome", ColumnType::kText, 60),
        NewColumn("cidade", ColumnType::kText, 40),  NewColumn("ativo", ColumnType::kBoolean),
        NewColumn("limite", ColumnType::kCurrency),  NewColumn("desde", ColumnType::kDateTime)};
    AddIndex(t, "PrimaryKey", {"id"}, IndexKind::kPrimaryKey);
    AddIndex(t, "nome", {"nome"});
    AddIndex(t, "cidade", {"cidade"});
    return t;
}

TableDef SamplePedidosDef() {
    TableDef t;
    t.name = "pedidos";
    t.columns = {
        NewColumn("id", ColumnType::kLong, 0, true), NewColumn("cliente", ColumnType::kLong),
        NewColumn("data", ColumnType::kDateTime),    NewColumn("quantidade", ColumnType::kInteger),
        NewColumn("peso", ColumnType::kDouble),      NewColumn("prioridade", ColumnType::kByte),
        NewColumn("codigo", ColumnType::kGuid),      NewColumn("entregue", ColumnType::kBoolean),
        NewColumn("valor", ColumnType::kCurrency),   NewColumn("descricao", ColumnType::kText, 120),
        NewColumn("observacao", ColumnType::kMemo)};
    AddIndex(t, "PrimaryKey", {"id"}, IndexKind::kPrimaryKey);
    AddIndex(t, "cliente", {"cliente"});
    AddIndex(t, "data", {"data"});
    return t;
}

uint64_t SampleClientesRows(uint64_t rows) {
    return rows / 10 + 1;
}

Row SampleClientesRow(uint64_t i) {
    const uint64_t h = Mix(i * 2 + 1);
    Row r(6);
    r[0] = static_cast<int64_t>(i + 1);
    r[1] = Name(h) + u" " + Name(Mix(h));
    r[2] = std::u16string(kCities[(h >> 20) % kCities.size()]);
    r[3] = (h % 3) != 0;
    r[4] = Currency(h >> 7, 5000000);
    r[5] =
        36526.0 + static_cast<double>(h % 8000) + static_cast<double>((h >> 13) % 86400) / 86400.0;
    return r;
}

Row SamplePedidosRow(uint64_t i, uint64_t rows) {
    const uint64_t h = Mix(i * 2);
    Row r(11);
    r[0] = static_cast<int64_t>(i + 1);
    r[1] = static_cast<int64_t>(1 + (h % SampleClientesRows(rows)));
    r[2] = 40000.0 + static_cast<double>(i / 50) + static_cast<double>((h >> 11) % 86400) / 86400.0;
    r[3] = static_cast<int64_t>((h >> 5) % 1000) - 100;
    r[4] = static_cast<double>((h >> 17) % 100000) / 8.0;
    r[5] = static_cast<int64_t>((h >> 29) % 256);
    Guid g;
    uint64_t a = Mix(h), b = Mix(a);
    for (int k = 0; k < 8; ++k) {
        g[static_cast<size_t>(k)] = static_cast<uint8_t>(a >> (8 * k));
        g[static_cast<size_t>(k + 8)] = static_cast<uint8_t>(b >> (8 * k));
    }
    r[6] = g;
    r[7] = ((h >> 37) & 1) != 0;
    r[8] = Currency(h >> 3, 1000000);
    r[9] = Words(h, 20 + (h >> 41) % 100);
    switch ((h >> 50) % 10) {
        case 0:
        case 1:
        case 2:
            break;  // null
        case 3:
            r[10] = std::u16string();
            break;
        case 4:
        case 5:
        case 6:
            r[10] = Words(b, 10 + b % 50);
            break;
        case 7:
        case 8:
            r[10] = Words(b, 200 + b % 1500);
            break;
        default:
            r[10] = Words(b, (b % 8 == 0) ? 6000 + b % 9000 : 1000 + b % 2000);
            break;
    }
    return r;
}

void CreateSample(Env* env, const std::string& path, const SampleOptions& options) {
    NewDatabase plan;
    plan.version = options.version;
    plan.date = kSampleDate;
    plan.replace_existing = true;
    plan.sort_memory = options.sort_memory;
    plan.encryption_key = options.encryption_key;
    const uint64_t rows = options.rows;
    const bool bloat = options.bloat;
    const Version v = options.version;

    NewTable clientes;
    clientes.def = SampleClientesDef();
    uint64_t next_cliente = 0;
    const uint64_t cliente_rows = SampleClientesRows(rows);
    bool cliente_deleted = false;
    clientes.generate = [next_cliente, cliente_rows, bloat, cliente_deleted](
                            Row& row, bool* deleted) mutable {
        if (next_cliente >= cliente_rows) return false;
        if (bloat && !cliente_deleted && Mix(next_cliente) % 2 == 0) {
            // A deleted predecessor: same shape, other values.
            row = SampleClientesRow(next_cliente + cliente_rows);
            *deleted = true;
            cliente_deleted = true;
            return true;
        }
        row = SampleClientesRow(next_cliente);
        ++next_cliente;
        cliente_deleted = false;
        return true;
    };
    NewTable pedidos;
    pedidos.def = SamplePedidosDef();
    uint64_t next_pedido = 0;
    bool emitted_deleted = false;
    pedidos.generate = [next_pedido, rows, bloat, emitted_deleted](Row& row,
                                                                   bool* deleted) mutable {
        if (next_pedido >= rows) return false;
        if (bloat && !emitted_deleted && Mix(next_pedido + 7) % 2 == 0) {
            row = SamplePedidosRow(next_pedido + rows, rows);
            *deleted = true;
            emitted_deleted = true;
            return true;
        }
        row = SamplePedidosRow(next_pedido, rows);
        ++next_pedido;
        emitted_deleted = false;
        return true;
    };
    if (bloat) {
        // About a third of the file ends up free.
        pedidos.free_share = 0.3;
        pedidos.free_page_image = StalePage(v, 1);
    }
    plan.tables.push_back(std::move(clientes));
    plan.tables.push_back(std::move(pedidos));
    CreateDatabase(env, path, plan);
    if (!options.password.empty()) {
        // The writer makes no protected database: page 0 is written again with the password.
        auto file = env->Open(path, OpenMode::kReadWrite);
        Bytes page0(PageSize(v));
        file->ReadAt(0, page0.data(), page0.size());
        DatabaseHeader header = DecodeHeader(page0);
        header.password = options.password;
        const Bytes encoded = EncodeHeader(header);
        file->WriteAt(0, encoded.data(), encoded.size());
        file->Sync();
    }
}

}  // namespace jet
