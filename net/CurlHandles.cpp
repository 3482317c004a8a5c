#include "net/CurlHandles.h"

#include <utility>

namespace net {

CurlEasy::CurlEasy() : m_handle(curl_easy_init()), m_error(new char[CURL_ERROR_SIZE]())
{
    if (m_handle)
        curl_easy_setopt(m_handle, CURLOPT_ERRORBUFFER, m_error.get());
}

CurlEasy::~CurlEasy()
{
    if (m_handle)
        curl_easy_cleanup(m_handle);
}

CurlEasy::CurlEasy(CurlEasy&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_error(std::move(other.m_error))
{
}

CurlEasy& CurlEasy::operator=(CurlEasy&& other) noexcept
{
    if (this != &other) {
        if (m_handle)
            curl_easy_cleanup(m_handle);
        m_handle = std::exchange(other.m_handle, nullptr);
        m_error = std::move(other.m_error);
    }
    return *this;
}

void CurlEasy::reset()
{
    if (!m_handle)
        return;
    curl_easy_reset(m_handle);
    clearError();
    curl_easy_setopt(m_handle, CURLOPT_ERRORBUFFER, m_error.get());
}

}  // namespace net
