#pragma once
// Owners of libcurl objects. An easy handle keeps its error buffer beside it,
// on the heap, so that a move does not leave libcurl writing to a dead buffer.

#include <curl/curl.h>

#include <memory>
#include <string>

namespace net {

class CurlEasy {
public:
    CurlEasy();
    ~CurlEasy();
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;
    CurlEasy(CurlEasy&& other) noexcept;
    CurlEasy& operator=(CurlEasy&& other) noexcept;

    CURL* get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    // Clears every option but keeps the connection cache (the control connection stays open).
    void reset();
    std::string errorText() const { return m_error ? std::string(m_error.get()) : std::string(); }
    void clearError() { if (m_error) m_error[0] = '\0'; }

private:
    CURL* m_handle = nullptr;
    std::unique_ptr<char[]> m_error;
};

// A multi handle: drives one transfer at a time without blocking, and holds the
// connection cache, so the control connection stays open between transfers.
class CurlMulti {
public:
    CurlMulti() : m_handle(curl_multi_init()) {}
    ~CurlMulti()
    {
        if (m_handle)
            curl_multi_cleanup(m_handle);
    }
    CurlMulti(const CurlMulti&) = delete;
    CurlMulti& operator=(const CurlMulti&) = delete;

    CURLM* get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    // Closes the connections it holds and starts with none.
    void reset()
    {
        if (m_handle)
            curl_multi_cleanup(m_handle);
        m_handle = curl_multi_init();
    }

private:
    CURLM* m_handle = nullptr;
};

class CurlSlist {
public:
    CurlSlist() = default;
    ~CurlSlist() { curl_slist_free_all(m_list); }
    CurlSlist(const CurlSlist&) = delete;
    CurlSlist& operator=(const CurlSlist&) = delete;
    CurlSlist(CurlSlist&& other) noexcept : m_list(other.m_list) { other.m_list = nullptr; }
    CurlSlist& operator=(CurlSlist&& other) noexcept
    {
        if (this != &other) {
            curl_slist_free_all(m_list);
            m_list = other.m_list;
            other.m_list = nullptr;
        }
        return *this;
    }

    [[nodiscard]] bool append(const std::string& text)
    {
        curl_slist* grown = curl_slist_append(m_list, text.c_str());
        if (!grown)
            return false;
        m_list = grown;
        return true;
    }
    curl_slist* get() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
};

}  // namespace net
