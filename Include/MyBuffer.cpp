#include "MyBuffer.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace NS_KV_CLASS {

CMyBuffer::CMyBuffer() : m_nLength(0), m_pBuffer(nullptr), m_nSize(0), m_nMaxSize(kDefaultMaxSize)
{
    SetBufferSize(kInitialSize);
    InitBuffer(0);
}

CMyBuffer::~CMyBuffer()
{
    std::free(m_pBuffer);
    m_pBuffer = nullptr;
    m_nLength = 0;
    m_nSize = 0;
    m_nMaxSize = 0;
}

bool CMyBuffer::SetBufferSize(int nSize)
{
    if (nSize <= m_nSize && m_pBuffer)
        return true;
    if (nSize <= 0)
        nSize = 1;
    void* p = std::realloc(m_pBuffer, static_cast<size_t>(nSize));
    if (!p)
        return false;
    m_pBuffer = static_cast<unsigned char*>(p);
    m_nSize = nSize;
    return true;
}

void CMyBuffer::InitBuffer(int nLength)
{
    if (nLength > 0 && !SetBufferSize(nLength))
        nLength = 0;
    if (m_pBuffer)
        std::memset(m_pBuffer, 0, static_cast<size_t>(m_nSize));
    m_nLength = nLength > 0 ? nLength : 0;
}

void CMyBuffer::AddBuffer(const void* pData, int nLen)
{
    if (nLen <= 0 || !pData)
        return;
    const long long needed = static_cast<long long>(m_nLength) + nLen;
    if (needed > INT_MAX)
        return; // cannot be represented; the content is left as it was
    if (needed > m_nSize) {
        if (m_nMaxSize > 0 && needed > m_nMaxSize) {
            // Over the limit: the content is discarded and the new bytes
            // start it again. They may alone exceed the capacity.
            InitBuffer(0);
            if (nLen > m_nSize && !SetBufferSize(nLen))
                return;
        } else if (!SetBufferSize(static_cast<int>(needed))) {
            return;
        }
    }
    std::memcpy(m_pBuffer + m_nLength, pData, static_cast<size_t>(nLen));
    m_nLength += nLen;
}

bool CMyBuffer::CanAppend(long long nBytes) const
{
    if (nBytes < 0)
        return false;
    const long long needed = static_cast<long long>(m_nLength) + nBytes;
    if (needed > INT_MAX)
        return false;
    return m_nMaxSize <= 0 || needed <= m_nMaxSize;
}

bool CMyBuffer::Reserve(long long nBytes)
{
    return CanAppend(nBytes) && SetBufferSize(static_cast<int>(m_nLength + nBytes));
}

void CMyBuffer::AddStringA(const char* psz)
{
    if (psz)
        AddBuffer(psz, static_cast<int>(std::strlen(psz)));
}

void CMyBuffer::AddByte(unsigned char b)
{
    AddBuffer(&b, 1);
}

void CMyBuffer::AddInt(int n)
{
    char text[16];
    const int len = std::snprintf(text, sizeof text, "%d", n);
    AddBuffer(text, len);
}

} // namespace NS_KV_CLASS
