#pragma once

#include <QString>

#include <memory>

namespace TagLib {
class File;
class FileStream;
class String;
} // namespace TagLib

// TagLib's text as Qt's; what is no valid Unicode becomes U+FFFD.
QString QStringOf(const TagLib::String &text);

// One source file opened for TagLib, chosen by what the file holds rather than by its
// name: a FLAC file named .mp3 is read as FLAC, and a Matroska or AVI file is not handed
// to a reader that would take its bytes for MPEG frames. Only a regular file is opened
// (never a FIFO or device), read-only, through one descriptor.
class TagFile
{
public:
    explicit TagFile(const QString &path);
    // The file open at `fd` for reading and writing (a conversion's work file, reached only
    // through its descriptor), chosen by content as above. Takes `fd` over and closes it.
    explicit TagFile(int fd);
    ~TagFile();
    TagFile(const TagFile &) = delete;
    TagFile &operator=(const TagFile &) = delete;

    // The opened file, or nullptr when TagLib has no reader for it or the reader found
    // the file unusable.
    TagLib::File *file() const { return m_file.get(); }

private:
    void open(int fd, bool readOnly, const QString &path);

    std::unique_ptr<TagLib::FileStream> m_stream;
    std::unique_ptr<TagLib::File> m_file; // reads through m_stream, so it goes first
};
