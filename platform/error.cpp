#include "platform/error.h"

#include <cerrno>
#include <new>

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
        default:
            return "Erro definido pelo aplicativo ou pelo objeto";
    }
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
        case EDQUOT:
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

std::pair<int, std::string> Describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const EndProgram&) {
        throw;
    } catch (const jet::JetError& e) {
        return {e.number(), e.what()};
    } catch (const jet::OsError& e) {
        VbError mapped = FromOsError(e);
        return {mapped.number(), mapped.what()};
    } catch (const std::bad_alloc&) {
        return {kOutOfMemory, VbText(kOutOfMemory)};
    } catch (const std::exception& e) {
        return {kInternalError, VbText(kInternalError) + ": " + e.what()};
    } catch (...) {
        return {kInternalError, VbText(kInternalError)};
    }
}

void ErrObject::Store(std::exception_ptr error) {
    auto [number, text] = Describe(error);
    Number = number;
    Description = std::move(text);
}

}  // namespace platform
