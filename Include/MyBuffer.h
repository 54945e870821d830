// Growable contiguous byte buffer: page lines and printer command streams.
#pragma once

namespace NS_KV_CLASS {

class CMyBuffer {
public:
    // Largest content a buffer accepts (100 MiB); an append beyond it empties
    // the buffer first. A page's command stream larger than this is taken
    // for a runaway job; back ends whose pages may be longer lift the limit.
    static const int kDefaultMaxSize = 100 * 1024 * 1024;
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

    // Whether nBytes more can be appended with the content staying an int
    // and within the content limit, so that nothing already held is lost.
    // Every back end decides "does this page fit" by it. (AddBuffer itself
    // only empties the buffer when it has to grow past the limit.)
    bool CanAppend(long long nBytes) const;
    // CanAppend, and the capacity for it allocated now, so that the appends
    // that follow cannot fail half-way.
    bool Reserve(long long nBytes);

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
