#include "platform/error.h"

#include <cerrno>
#include <new>
#include <string>
#include <utility>

namespace platform {

std::string VbText(int number) {
    switch (number) {
        case kInvalidCall:
            return "Chamada de procedimento ou argumento inválido";
        case kOutOfMemory:
            return "Memória insuficiente";
        case kInternalError:
            return "Erro interno";
        case kFileNotFound:
            return "Arquivo não encontrado";
        case kDeviceIoError:
            return "Erro de dispositivo de E/S";
        case kFileAlreadyExists:
            return "O arquivo já existe";
        case kDiskFull:
            return "Disco cheio";
        case kTooManyFiles:
            return "Número excessivo de arquivos";
        case kPermissionDenied:
            return "Permissão negada";
        case kRenameAcrossDrives:
            return "Não é possível renomear com unidade de disco diferente";
        case kPathFileAccessError:
            return "Erro de acesso a caminho/arquivo";
        case kPathNotFound:
            return "Caminho não encontrado";
        case kObjectNotSet:
            return "A variável de objeto ou a variável do bloco With não foi definida";
        case kOverflow:
            return "Estouro";
        case kSubscriptOutOfRange:
            return "Subscrito fora do intervalo";
        default:
            return "Erro definido pelo aplicativo ou pelo objeto";
    }
}

namespace {

struct JetMessage {
    int number;
    const char* text;  // '|' stands for the object's name
};

// Short, as the engine's messages read in a Portuguese Jet; the engine's English text, with
// its detail, goes to the log file beside them.
constexpr JetMessage kJetMessages[] = {
    {jet::kFileNotFound, "Não foi possível encontrar o arquivo '|'."},
    {jet::kNotEnoughSpace, "Não há espaço suficiente no disco."},
    {jet::kReadOnly, "Não é possível atualizar. O banco de dados ou o objeto é somente leitura."},
    {jet::kNotValidPassword, "Senha inválida."},
    {jet::kSystemResourceExceeded, "Recursos do sistema excedidos."},
    {jet::kDatabaseFull, "O banco de dados atingiu o tamanho máximo."},
    {jet::kDiskReadError, "Erro de E/S de disco durante a leitura."},
    {jet::kDiskOrNetworkError, "Erro de disco ou de rede."},
    {jet::kNotValidPath, "'|' não é um caminho válido."},
    {jet::kFileInUse, "Não foi possível usar '|'; o arquivo já está em uso."},
    {jet::kRecordTooLarge, "O registro é grande demais."},
    {jet::kCannotOpenDatabase,
     "Não é possível abrir o banco de dados '|'. O arquivo pode estar danificado."},
    {jet::kCouldNotLockFile, "Não foi possível bloquear o arquivo."},
    {jet::kCannotOpenFile,
     "Não é possível abrir o arquivo '|'. Ele está aberto exclusivamente por outro usuário, ou "
     "é necessária permissão para ler seus dados."},
    {jet::kCouldNotRepair, "Não foi possível reparar este banco de dados."},
    {jet::kTooFewParameters, "Poucos parâmetros. Eram esperados |."},
    {jet::kInputTableNotFound, "Não foi possível encontrar a tabela ou consulta de entrada '|'."},
    {jet::kFieldNotUpdatable, "Não é possível atualizar '|'; o campo não é atualizável."},
    {jet::kUpdateSyntax, "Erro de sintaxe na instrução UPDATE."},
    {jet::kFieldTooSmall, "O campo é pequeno demais para a quantidade de dados."},
    {jet::kDatabaseInUse, "O banco de dados '|' já está em uso por outra pessoa ou processo."},
    {jet::kDatabaseExists, "O banco de dados já existe."},
    {jet::kCouldNotUpdateLocked, "Não foi possível atualizar; bloqueado no momento."},
    {jet::kInvalidOperation, "Operação inválida."},
    {jet::kItemNotFound, "Item não encontrado nesta coleção."},
    {jet::kUnrecognizedFormat, "Formato de banco de dados não reconhecido '|'."},
    {jet::kNumericOverflow, "Estouro de campo numérico."},
    {jet::kOpenedExclusively, "O banco de dados já está aberto exclusivamente pelo usuário '|'."},
    {jet::kObjectInvalid, "Objeto inválido ou não mais definido."},
    {jet::kTypeMismatch, "Tipo de dados incompatível na expressão de critério."},
};

}  // namespace

std::string JetText(int number, const std::string& name) {
    if (number < 3000) return VbText(number);  // the VB runtime's numbers
    for (const JetMessage& m : kJetMessages) {
        if (m.number != number) continue;
        std::string out;
        for (const char* c = m.text; *c != '\0'; ++c) {
            if (*c == '|')
                out += name;
            else
                out += *c;
        }
        return out;
    }
    return "Erro reservado (" + std::to_string(number) + "); não há mensagem para este erro.";
}

int VbNumberForErrno(int code, bool folder_missing) {
    switch (code) {
        case ENOENT:
            return folder_missing ? kPathNotFound : kFileNotFound;
        case ENOTDIR:
            return kPathNotFound;
        case EEXIST:
        case ENOTEMPTY:
            return kFileAlreadyExists;
        case ENOSPC:
#ifdef EDQUOT  // absent on Windows, where the Env reports a full quota as ENOSPC
        case EDQUOT:
#endif
        case EFBIG:
            return kDiskFull;
        case EACCES:
        case EPERM:
        case EROFS:
        case EBUSY:
        case ETXTBSY:
        case EAGAIN:
            return kPermissionDenied;
        case EXDEV:
            return kRenameAcrossDrives;
        case EIO:
            return kDeviceIoError;
        case EMFILE:
        case ENFILE:
            return kTooManyFiles;
        case ENOMEM:
            return kOutOfMemory;
        default:
            return kPathFileAccessError;  // EISDIR, ENAMETOOLONG, ELOOP, EINVAL, ...
    }
}

VbError FromOsError(const jet::OsError& error, bool folder_missing) {
    return VbError(VbNumberForErrno(error.code(), folder_missing));
}

void ErrObject::Raise(int number, const std::string& description) {
    if (description.empty()) throw VbError(number);
    throw VbError(number, description);
}

ErrorInfo Describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const EndProgram&) {
        throw;
    } catch (const VbError& e) {
        return {e.number(), e.what(), {}};
    } catch (const jet::JetError& e) {
        ErrorInfo info{e.number(), JetText(e.number(), e.name()), {}};
        const std::string own = e.what();
        if (own != jet::ErrorText(e.number(), e.name()) && own != info.description)
            info.detail = own;
        return info;
    } catch (const jet::OsError& e) {
        VbError mapped = FromOsError(e);
        return {mapped.number(), mapped.what(), e.what()};
    } catch (const std::bad_alloc&) {
        return {kOutOfMemory, VbText(kOutOfMemory), {}};
    } catch (const std::exception& e) {
        return {kInternalError, VbText(kInternalError), e.what()};
    } catch (...) {
        return {kInternalError, VbText(kInternalError), {}};
    }
}

void ErrObject::Store(std::exception_ptr error) {
    ErrorInfo info = Describe(error);
    Number = info.number;
    Description = std::move(info.description);
    Detail = std::move(info.detail);
}

}  // namespace platform
