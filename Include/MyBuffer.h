// Growable contiguous byte buffer: page lines and printer command streams.
#pragma once

namespace NS_KV_CLASS {

class CMyBuffer {
public:
    // Largest content a buffer accepts (100 MiB); an append beyond it empties
    // the buffer first.
    static const int kDefaultMaxSize = 104857600;
    // Capacity of a new buffer.
    static const int kInitialSize = 1024;

    CMyBuffer();
    virtual ~CMyBuffer();
    CMyBuffer(const CMyBuffer&) = delete;
    CMyBuffer& operator=(const CMyBuffer&) = delete;

    // Makes the capacity at least nSize; never shrinks. Returns false when
    // the storage could not be allocated (the buffer is then unchanged).
    bool SetBufferSize(int nSize);
    void InitBuffer(int nLength);
    void AddBuffer(const void* pData, int nLen);
    void AddStringA(const char* psz);
    void AddByte(unsigned char b);
    void AddInt(int n);
    void SetMaxBufferSize(int nMax) { m_nMaxSize = nMax; }

    unsigned char* GetBuffer() const { return m_pBuffer; }
    int GetBufferLength() const { return m_nLength; }
    int GetBufferSize() const { return m_nSize; }
    int GetMaxBufferSize() const { return m_nMaxSize; }

private:
    int m_nLength;
    unsigned char* m_pBuffer;
    int m_nSize;
    int m_nMaxSize;
};

} // namespace NS_KV_CLASS

using NS_KV_CLASS::CMyBuffer;
