#include "core/joblist/mediatypes.h"

namespace {

QStringList split(const char *list)
{
    return QString::fromLatin1(list).split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

MediaFamily family(const char *description, const char *patterns, const char *mimeTypes)
{
    return {QString::fromLatin1(description), split(patterns), split(mimeTypes)};
}

} // namespace

const QVector<MediaFamily> &MediaFamilies()
{
    // The first six are the program's long-standing filters, texts unchanged; then what
    // today's libraries hold and ffmpeg decodes. CAF and E-AC-3 have no shared-mime-info
    // type on Debian 12, so the desktop entry cannot offer them.
    static const QVector<MediaFamily> families = {
        family("MP3 Files(*.mp3,*.mpg,*.mpeg)", "*.mpg;*.mp3;*.mpeg", "audio/mpeg;video/mpeg"),
        family("WAV Files(*.wav)", "*.wav", "audio/x-wav"),
        family("WMA Files(*.wma,*.wmv,*.asf,*.asx)", "*.wma;*.asf;*.asx;*.wmv",
               "video/x-ms-wmv;application/vnd.ms-asf;video/x-ms-asf;audio/x-ms-asx;"
               "audio/x-ms-wma"),
        family("AAC Files(*.aac)", "*.aac", "audio/aac"),
        family("Rm Files(*.rm,*.ram,*.rmvb)", "*.rm;*.ram;*.rmvb",
               "application/vnd.rn-realmedia;application/ram"),
        family("AVI Files(*.avi)", "*.avi", "video/x-msvideo"),
        family("FLAC Files(*.flac)", "*.flac", "audio/flac"),
        family("Ogg Files(*.ogg,*.oga)", "*.ogg;*.oga",
               "audio/ogg;audio/x-vorbis+ogg;audio/x-flac+ogg"),
        family("Opus Files(*.opus)", "*.opus", "audio/x-opus+ogg"),
        family("M4A Files(*.m4a,*.m4b,*.mp4)", "*.m4a;*.m4b;*.mp4",
               "audio/mp4;audio/x-m4b;video/mp4"),
        family("AIFF Files(*.aif,*.aiff,*.aifc)", "*.aif;*.aiff;*.aifc",
               "audio/x-aiff;audio/x-aifc"),
        family("WavPack Files(*.wv)", "*.wv", "audio/x-wavpack"),
        family("Monkey's Audio Files(*.ape)", "*.ape", "audio/x-ape"),
        family("Musepack Files(*.mpc)", "*.mpc", "audio/x-musepack"),
        family("TTA Files(*.tta)", "*.tta", "audio/x-tta"),
        family("Matroska Files(*.mka,*.mkv,*.webm)", "*.mka;*.mkv;*.webm",
               "audio/x-matroska;video/x-matroska;video/webm"),
        family("AC-3 Files(*.ac3,*.eac3)", "*.ac3;*.eac3", "audio/ac3"),
        family("DTS Files(*.dts)", "*.dts", "audio/vnd.dts"),
        family("AU Files(*.au,*.snd)", "*.au;*.snd", "audio/basic"),
        family("CAF Files(*.caf)", "*.caf", ""),
        family("MOV Files(*.mov)", "*.mov", "video/quicktime"),
        family("3GP Files(*.3gp,*.3g2)", "*.3gp;*.3g2", "video/3gpp;video/3gpp2"),
        family("FLV Files(*.flv)", "*.flv", "video/x-flv"),
        family("AMR Files(*.amr)", "*.amr", "audio/AMR"),
    };
    return families;
}

const QStringList &MediaPatterns()
{
    static const QStringList patterns = [] {
        QStringList all;
        for (const MediaFamily &f : MediaFamilies()) {
            for (const QString &p : f.patterns) {
                if (!all.contains(p))
                    all << p;
            }
        }
        return all;
    }();
    return patterns;
}

bool IsMediaFileName(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QString pattern = QLatin1Char('*') + fileName.mid(dot).toLower();
    return MediaPatterns().contains(pattern);
}
