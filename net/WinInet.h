#pragma once
// Types, constants and error numbers of the Internet-call layer. The values are
// those of the Windows Internet library, so that the windows and the saved
// behaviour speak the same numbers.

#include <cstdint>

namespace net {

using DWORD = std::uint32_t;
using BOOL = std::int32_t;
using HINTERNET = std::uint32_t;  // 0 = none or failure
using DWORD_PTR = std::uintptr_t;
using INTERNET_PORT = std::uint16_t;

constexpr BOOL TRUE_ = 1;
constexpr BOOL FALSE_ = 0;

constexpr int MAX_PATH = 260;

struct FILETIME {
    DWORD dwLowDateTime = 0;
    DWORD dwHighDateTime = 0;
};

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes = 0;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh = 0;
    DWORD nFileSizeLow = 0;
    DWORD dwReserved0 = 0;  // this layer: the entry's permission bits | 0x8000 where the listing gave them
    DWORD dwReserved1 = 0;  // this layer: 1 when the listing gave only the day of ftLastWriteTime
    char cFileName[MAX_PATH] = {};
    char cAlternateFileName[14] = {};
};

// InternetOpenA access types
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 0x1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 0x3;
// InternetConnectA
constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;
constexpr INTERNET_PORT INTERNET_DEFAULT_FTP_PORT = 21;
constexpr INTERNET_PORT INTERNET_DEFAULT_SSH_PORT = 22;  // this layer's: "sftp://"
constexpr DWORD INTERNET_SERVICE_FTP = 0x1;
constexpr DWORD INTERNET_FLAG_PASSIVE = 0x08000000;
// FtpFindFirstFileA, this layer's own flag: a listing in `ls -l` lines (LIST), where a link
// is a link, even on a server whose MLSD describes what a link points to instead.
constexpr DWORD FIND_FLAG_LINKS_AS_LINKS = 0x00000001;
// Transfers
constexpr DWORD FTP_TRANSFER_TYPE_ASCII = 0x1;
constexpr DWORD FTP_TRANSFER_TYPE_BINARY = 0x2;
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;
// FtpGetFileA, this layer's own flag: a file small enough to fetch again whole, so nothing
// is kept of it after a cut (no part, no MDTM asked for it). Nor is its size asked for (SIZE):
// a binary download ends where the server ends it, and the caller compares the size that
// arrived with the one it listed. Its temporary file may be one made ahead, while an earlier
// file was on its way.
constexpr DWORD FTP_FLAG_NO_PART = 0x00010000;
// FtpPutFileA, this layer's own flag: the caller has just listed the target's folder and found
// neither the name nor a part of an earlier upload to it, so nothing is asked about the name
// before the data goes (no MLST, STAT or SIZE). Should the server refuse to give the new file
// that name after all, the upload fails and nothing of the server's is moved aside.
constexpr DWORD FTP_FLAG_NEW_NAME = 0x00020000;
// Attributes of a find record
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;

// Error numbers (the thread's last error)
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_EXTENDED_ERROR = 12003;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_FTP_TRANSFER_IN_PROGRESS = 12110;
constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
// The TLS handshake failed for another reason than the server's certificate.
constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
// An SSH server's host key differs from the one known for it, or is marked revoked.
constexpr DWORD ERROR_INTERNET_SEC_INVALID_CERT = 12169;
constexpr DWORD ERROR_INTERNET_SEC_CERT_REVOKED = 12170;

}  // namespace net
