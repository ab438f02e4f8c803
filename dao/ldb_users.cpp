#include "dao/ldb_users.h"

#include <vector>

#include "jet/database/lock_file.h"
#include "jet/format/text_codec.h"

namespace dao {
namespace {

constexpr uint16_t kAnsiCodePage = 1252;

std::string ToAnsi(const std::string& utf8) {
    jet::Bytes bytes = jet::EncodeCodePage(jet::Utf8ToUtf16(utf8), kAnsiCodePage);
    return std::string(bytes.begin(), bytes.end());
}

std::string FromAnsi(const std::string& ansi) {
    jet::ByteSpan bytes(reinterpret_cast<const uint8_t*>(ansi.data()), ansi.size());
    return jet::Utf16ToUtf8(jet::DecodeCodePage(bytes, kAnsiCodePage));
}

}  // namespace

int LdbUserGetUsersAnsi(jet::Env* env, StringArray& users, std::string& ansi_path, int options) {
    if (options != kLdbAllUsers && options != kLdbLoggedOnUsers && options != kLdbCorruptUsers &&
        options != kLdbUserCount) {
        return kLdbInvalidOption;
    }
    std::vector<jet::LockFileUser> found;
    try {
        if (options != kLdbCorruptUsers) {
            found = jet::ReadLockFileUsers(env, FromAnsi(ansi_path));
        }
    } catch (const jet::OsError&) {
        return kLdbCannotRead;
    }
    std::vector<std::string> names;
    for (const jet::LockFileUser& user : found) {
        if (options == kLdbAllUsers || user.live) names.push_back(ToAnsi(user.computer));
    }
    int count = static_cast<int>(names.size());
    if (options == kLdbUserCount) return count;

    if (count > users.Count()) users.ReDim(users.LBound(), users.LBound() + count - 1);
    for (int i = 0; i < users.Count(); ++i) {
        users(users.LBound() + i) = i < count ? names[static_cast<size_t>(i)] : std::string();
    }
    return count;
}

int LDBUser_GetUsers(jet::Env* env, StringArray& users, std::string& path, int options) {
    for (int i = users.LBound(); i <= users.UBound(); ++i) users(i) = ToAnsi(users(i));
    std::string ansi_path = ToAnsi(path);
    int result = LdbUserGetUsersAnsi(env, users, ansi_path, options);
    for (int i = users.LBound(); i <= users.UBound(); ++i) users(i) = FromAnsi(users(i));
    path = FromAnsi(ansi_path);
    return result;
}

}  // namespace dao
