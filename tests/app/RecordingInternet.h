#pragma once
// A recording fake of the Internet layer: an in-memory server tree, a log of
// every call with its arguments, and failures injected by call name.

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "net/InternetApi.h"

namespace testsupport {

class RecordingInternet : public net::InternetApi {
public:
    struct Entry {
        std::string name;
        net::DWORD attributes = net::FILE_ATTRIBUTE_NORMAL;
    };

    std::vector<std::string> calls;
    std::map<std::string, std::vector<Entry>> folders{{"/", {}}};  // server path -> entries
    std::string currentDir = "/";
    std::string loginDir = "/";  // where a connect starts
    // Next call of that name fails with that error (once per queued entry).
    std::map<std::string, std::deque<net::DWORD>> failures;
    // Listing fails after this many entries with this error (0 = never).
    std::size_t failListingAfter = 0;
    net::DWORD failListingError = net::ERROR_INTERNET_CONNECTION_ABORTED;
    net::DWORD responseCode = 550;
    std::string responseText = "550 No such file.\r\n";
    std::function<void(const std::string& call)> onCall;  // runs after a call is recorded
    net::HINTERNET lastConnect = 0;

    void addFolder(const std::string& path, std::vector<Entry> entries) { folders[path] = std::move(entries); }

    std::vector<std::string> callsNamed(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const auto& c : calls)
            if (c.rfind(prefix, 0) == 0)
                out.push_back(c);
        return out;
    }

    net::HINTERNET InternetOpenA(const char* agent, net::DWORD access, const char* proxy, const char*,
                                 net::DWORD) override
    {
        record("InternetOpenA(" + str(agent) + "," + std::to_string(access) + "," + (proxy ? "'" + str(proxy) + "'" : "NULL") + ")");
        if (failing("InternetOpenA"))
            return 0;
        const net::HINTERNET h = m_next++;
        m_sessions.insert(h);
        return h;
    }

    net::HINTERNET InternetConnectA(net::HINTERNET hOpen, const char* server, net::INTERNET_PORT port,
                                    const char* user, const char* password, net::DWORD service, net::DWORD flags,
                                    net::DWORD_PTR) override
    {
        record("InternetConnectA(" + std::to_string(hOpen) + "," + str(server) + "," + std::to_string(port) + "," +
               str(user) + "," + str(password) + "," + std::to_string(service) + "," + hex(flags) + ")");
        if (!m_sessions.count(hOpen))
            return fail(net::ERROR_INVALID_HANDLE), 0;
        if (failing("InternetConnectA"))
            return 0;
        lastConnect = m_next++;
        m_connections.insert(lastConnect);
        currentDir = loginDir;
        return lastConnect;
    }

    net::BOOL InternetCloseHandle(net::HINTERNET h) override
    {
        record("InternetCloseHandle(" + std::to_string(h) + ")");
        if (m_sessions.erase(h) || m_connections.erase(h) || m_finds.erase(h))
            return 1;
        return fail(net::ERROR_INVALID_HANDLE), 0;
    }

    net::HINTERNET FtpFindFirstFileA(net::HINTERNET hConnect, const char* search, net::WIN32_FIND_DATAA* record,
                                     net::DWORD flags, net::DWORD_PTR) override
    {
        this->record("FtpFindFirstFileA(" + std::to_string(hConnect) + "," + str(search) + "," + std::to_string(flags) + ")");
        if (!m_connections.count(hConnect))
            return fail(net::ERROR_INVALID_HANDLE), 0;
        if (failing("FtpFindFirstFileA"))
            return 0;
        m_listing = folders[currentDir];
        m_position = 0;
        if (m_listing.empty())
            return fail(net::ERROR_NO_MORE_FILES), 0;
        fill(record);
        const net::HINTERNET h = m_next++;
        m_finds.insert(h);
        return h;
    }

    net::BOOL InternetFindNextFileA(net::HINTERNET hFind, net::WIN32_FIND_DATAA* record) override
    {
        this->record("InternetFindNextFileA(" + std::to_string(hFind) + ")");
        if (!m_finds.count(hFind))
            return fail(net::ERROR_INVALID_HANDLE), 0;
        if (failListingAfter && m_position >= failListingAfter)
            return fail(failListingError), 0;
        if (m_position >= m_listing.size())
            return fail(net::ERROR_NO_MORE_FILES), 0;
        fill(record);
        return 1;
    }

    net::BOOL FtpSetCurrentDirectoryA(net::HINTERNET hConnect, const char* dir) override
    {
        record("FtpSetCurrentDirectoryA(" + std::to_string(hConnect) + "," + str(dir) + ")");
        if (!m_connections.count(hConnect))
            return fail(net::ERROR_INVALID_HANDLE), 0;
        if (failing("FtpSetCurrentDirectoryA"))
            return 0;
        std::string path = dir;
        if (path.size() > 1 && path.back() == '/')
            path.pop_back();
        if (!folders.count(path))
            return fail(net::ERROR_INTERNET_EXTENDED_ERROR), 0;
        currentDir = path;
        return 1;
    }

    net::BOOL FtpGetCurrentDirectoryA(net::HINTERNET hConnect, char* buffer, net::DWORD* length) override
    {
        record("FtpGetCurrentDirectoryA(" + std::to_string(hConnect) + "," + std::to_string(length ? *length : 0) + ")");
        if (!m_connections.count(hConnect))
            return fail(net::ERROR_INVALID_HANDLE), 0;
        if (failing("FtpGetCurrentDirectoryA"))
            return 0;
        const auto needed = static_cast<net::DWORD>(currentDir.size() + 1);
        if (!buffer || *length < needed) {
            *length = needed;
            return fail(122), 0;
        }
        std::memcpy(buffer, currentDir.c_str(), needed);
        *length = needed - 1;
        return 1;
    }

    net::BOOL FtpGetFileA(net::HINTERNET hConnect, const char* remote, const char* local, net::BOOL failIfExists,
                          net::DWORD attributes, net::DWORD flags, net::DWORD_PTR) override
    {
        record("FtpGetFileA(" + std::to_string(hConnect) + "," + str(remote) + "," + str(local) + "," +
               std::to_string(failIfExists) + "," + hex(attributes) + "," + hex(flags) + ")");
        if (!m_connections.count(hConnect))
            return fail(net::ERROR_INVALID_HANDLE), 0;
        if (failing("FtpGetFileA"))
            return 0;
        return 1;
    }

    net::BOOL FtpPutFileA(net::HINTERNET hConnect, const char* local, const char* remote, net::DWORD flags,
                          net::DWORD_PTR) override
    {
        record("FtpPutFileA(" + std::to_string(hConnect) + "," + str(local) + "," + str(remote) + "," + hex(flags) + ")");
        if (!m_connections.count(hConnect))
            return fail(net::ERROR_INVALID_HANDLE), 0;
        if (failing("FtpPutFileA"))
            return 0;
        folders[currentDir].push_back({remote, net::FILE_ATTRIBUTE_NORMAL});
        m_lastError = 0;
        return 1;
    }

    // The server commands: recorded, and refused when named in failing.
    net::BOOL FtpCreateDirectoryA(net::HINTERNET hConnect, const char* path) override
    {
        return command("FtpCreateDirectoryA(" + std::to_string(hConnect) + "," + str(path) + ")", hConnect);
    }
    net::BOOL FtpRemoveDirectoryA(net::HINTERNET hConnect, const char* path) override
    {
        return command("FtpRemoveDirectoryA(" + std::to_string(hConnect) + "," + str(path) + ")", hConnect);
    }
    net::BOOL FtpDeleteFileA(net::HINTERNET hConnect, const char* path) override
    {
        return command("FtpDeleteFileA(" + std::to_string(hConnect) + "," + str(path) + ")", hConnect);
    }
    net::BOOL FtpRenameFileA(net::HINTERNET hConnect, const char* from, const char* to) override
    {
        return command("FtpRenameFileA(" + std::to_string(hConnect) + "," + str(from) + "," + str(to) + ")", hConnect);
    }
    net::BOOL FtpSetPermissionsA(net::HINTERNET hConnect, const char* path, net::DWORD mode) override
    {
        return command("FtpSetPermissionsA(" + std::to_string(hConnect) + "," + str(path) + "," + hex(mode) + ")",
                       hConnect);
    }

    net::BOOL InternetGetLastResponseInfoA(net::DWORD* error, char* buffer, net::DWORD* length) override
    {
        record(std::string("InternetGetLastResponseInfoA(") + (buffer ? "buffer" : "NULL") + "," + std::to_string(*length) + ")");
        *error = responseCode;
        if (!buffer) {
            *length = static_cast<net::DWORD>(responseText.size());
            return 1;
        }
        std::memcpy(buffer, responseText.data(), std::min<std::size_t>(*length, responseText.size()));
        return 1;
    }

    net::DWORD GetLastError() override { return m_lastError; }
    void setCallWatcher(net::CallWatcher*) override {}

    // What lastErrorDetail() reports after a failed call.
    std::string errorDetail;
    std::string putNotice;   // after an upload that succeeded: files the server kept
    std::string failNotice;  // after a failed call: a cut download's kept part
    std::string lastErrorDetail() override { return m_lastError ? errorDetail : std::string(); }
    std::string lastNotice() override { return m_lastError ? failNotice : putNotice; }

private:
    static std::string str(const char* s) { return s ? std::string(s) : std::string("NULL"); }
    static std::string hex(net::DWORD v)
    {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%X", v);
        return buf;
    }
    void record(std::string call)
    {
        calls.push_back(std::move(call));
        if (onCall)
            onCall(calls.back());
    }
    void fail(net::DWORD error) { m_lastError = error; }
    net::BOOL command(std::string call, net::HINTERNET hConnect)
    {
        const std::string name = call.substr(0, call.find('('));
        record(std::move(call));
        if (!m_connections.count(hConnect))
            return fail(net::ERROR_INVALID_HANDLE), 0;
        if (failing(name))
            return 0;
        m_lastError = 0;
        return 1;
    }
    bool failing(const std::string& name)
    {
        auto it = failures.find(name);
        if (it == failures.end() || it->second.empty())
            return false;
        fail(it->second.front());
        it->second.pop_front();
        return true;
    }
    void fill(net::WIN32_FIND_DATAA* record)
    {
        const Entry& e = m_listing[m_position++];
        record->dwFileAttributes = e.attributes;
        std::strncpy(record->cFileName, e.name.c_str(), sizeof record->cFileName - 1);
    }

    net::DWORD m_lastError = 0;
    net::HINTERNET m_next = 1;
    std::set<net::HINTERNET> m_sessions, m_connections, m_finds;
    std::vector<Entry> m_listing;
    std::size_t m_position = 0;
};

}  // namespace testsupport
