#pragma once

#include <QtGlobal>

#include <taglib/tbytevector.h>

// The header object that starts every ASF file (WMA, WMV), checked as TagLib 1.13 reads
// it. TagLib trusts the counts in it: a descriptor count of 65535 over a few bytes makes
// it build 65535 attributes, and an object of size 0 in the header extension makes it
// read on through the file one object of nothing at a time. So a file is handed to TagLib
// only when every object and record of its header ends where the next begins, which is
// how every writer lays them out; otherwise ffmpeg alone reads it.
class AsfHeader
{
public:
    // Headers larger than this (a few KB in real files, some 100 KB with a cover) are not read.
    static constexpr quint64 MaxBytes = 8 << 20;
    // The attributes a header may hold; real files have some dozens.
    static constexpr int MaxAttributes = 10000;

    // The header object's size as the first 30 bytes of a file state it; 0 when they are no
    // ASF header or the size is out of range.
    static quint64 statedSize(const TagLib::ByteVector &start);
    // The header object's bytes from the start of `source` (a TagLib::File or IOStream);
    // empty for no ASF file or an out-of-range size.
    template <class Source> static TagLib::ByteVector read(Source &source);

    // Checks the whole header object.
    explicit AsfHeader(const TagLib::ByteVector &header);

    bool isSound() const { return m_sound; }
    bool hasVideo() const { return m_video; }
    bool hasFileProperties() const { return m_fileProperties; }
    quint64 statedFileSize() const { return m_statedFileSize; }
    quint64 playTime() const { return m_playTime; } // 100 ns units
    quint64 preroll() const { return m_preroll; }   // milliseconds
    quint32 flags() const { return m_flags; }       // 0x01: a broadcast

private:
    bool checkObjects(const TagLib::ByteVector &h, unsigned int from, unsigned int to,
                      quint32 count, bool extension);
    bool checkAttributes(const TagLib::ByteVector &h, unsigned int from, unsigned int to, int kind);

    bool m_sound = false;
    bool m_video = false;
    bool m_fileProperties = false;
    int m_attributes = 0;
    quint64 m_statedFileSize = 0;
    quint64 m_playTime = 0;
    quint64 m_preroll = 0;
    quint32 m_flags = 0;
};

template <class Source> TagLib::ByteVector AsfHeader::read(Source &source)
{
    source.seek(0);
    const quint64 size = statedSize(source.readBlock(30));
    if (size == 0)
        return TagLib::ByteVector();
    source.seek(0);
    return source.readBlock(static_cast<unsigned long>(size));
}
