// The lyric in the song's tag, over encoder-made files: what the frames hold, what stays as it
// was, and the songs that keep their audio checksum or are refused.
#include <gtest/gtest.h>

#include <attachedpictureframe.h>
#include <id3v1tag.h>
#include <id3v2header.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <synchronizedlyricsframe.h>
#include <unsynchronizedlyricsframe.h>

#include <filesystem>
#include <string>

#include "audio/audio_fixtures.h"
#include "audio/checksum.h"
#include "support/files.h"
#include "support/tempdir.h"
#include "tagging/lyrictag.h"
#include "text/textconv.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using fixtures::AudioFixture;
using TagLib::ID3v2::SynchronizedLyricsFrame;
using TagLib::ID3v2::UnsynchronizedLyricsFrame;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

// An LRC file as the job writes it: CR LF line ends, header lines and Korean rows; and one with a
// row at 65,530 ms, whose time in the SYLT frame (00 00 FF FA) looks like an MPEG-1 Layer III
// frame's start to the checksum's frame search.
const std::u16string Lrc =
    u"[ti:봄날]\r\n[ar:퀼론 합창단]\r\n[al:견본집]\r\n[00:01.00]보고 싶다 / I miss you\r\n"
    u"[00:05.50]a < b & c\r\n[01:05.52]끝\r\n";
const std::u16string LrcWithSyncTime = Lrc + u"[01:05.53]\r\n";

std::string ChecksumOf(const fs::path& file) {
    AudioChecksummer checksummer;
    AudioChecksum sum{};
    if (checksummer.Compute(file, sum) != ChecksumStatus::Ok) return {};
    return std::string(sum.data(), 32);
}

// The bytes of the file after its ID3v2 tag.
std::string AfterTag(const fs::path& file) {
    const std::string bytes = ReadFileBytes(file);
    if (bytes.rfind("ID3", 0) != 0) return bytes;
    std::size_t size = 10;
    for (int i = 6; i < 10; ++i) size += static_cast<std::size_t>(bytes[i] & 0x7F) << (7 * (9 - i));
    return bytes.substr(size);
}

class LyricTagTest : public ::testing::Test {
protected:
    fs::path Copy(const std::string& fixture, const std::string& name = "song.mp3") {
        const fs::path target = scratch.Path() / name;
        fs::copy_file(AudioFixture(fixture), target, fs::copy_options::overwrite_existing);
        return target;
    }
    TempDir scratch;
};

// A v2.3 tag with title and artist: it stays v2.3, the lyric goes in as UTF-16 in a USLT and a
// SYLT frame in Korean, the other frames, the audio and the song's permissions stay, and the
// text reads back whole.
TEST_F(LyricTagTest, AVersion23TagTakesBothFramesInUtf16AndKeepsTheRest) {
    const fs::path song = Copy("id3v2-4096-mpeg1-layer3.mp3");
    const std::string audio = AfterTag(song);
    const std::string checksum = ChecksumOf(song);
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(song, mode);
    ASSERT_TRUE(EmbedLyrics(song, Lrc));
    EXPECT_EQ(AfterTag(song), audio);
    EXPECT_EQ(ChecksumOf(song), checksum);
    EXPECT_EQ(fs::status(song).permissions(), mode);

    TagLib::MPEG::File file(song.c_str());
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->header()->majorVersion(), 3u);
    EXPECT_FALSE(tag->title().isEmpty());
    ASSERT_EQ(tag->frameList("USLT").size(), 1u);
    ASSERT_EQ(tag->frameList("SYLT").size(), 1u);
    auto* uslt = dynamic_cast<UnsynchronizedLyricsFrame*>(tag->frameList("USLT").front());
    auto* sylt = dynamic_cast<SynchronizedLyricsFrame*>(tag->frameList("SYLT").front());
    ASSERT_TRUE(uslt && sylt);
    EXPECT_EQ(uslt->language(), TagLib::ByteVector("kor"));
    EXPECT_TRUE(uslt->description().isEmpty());
    EXPECT_EQ(uslt->textEncoding(), TagLib::String::UTF16);
    EXPECT_EQ(Utf8ToWide(uslt->text().to8Bit(true)),
              u"[ti:봄날]\n[ar:퀼론 합창단]\n[al:견본집]\n[00:01.00]보고 싶다 / I miss you\n"
              u"[00:05.50]a < b & c\n[01:05.52]끝\n");
    EXPECT_EQ(sylt->timestampFormat(), SynchronizedLyricsFrame::AbsoluteMilliseconds);
    EXPECT_EQ(sylt->type(), SynchronizedLyricsFrame::Lyrics);
    ASSERT_EQ(sylt->synchedText().size(), 3u);
    EXPECT_EQ(sylt->synchedText()[2].time, 65520u);
    EXPECT_EQ(Utf8ToWide(sylt->synchedText()[0].text.to8Bit(true)), u"보고 싶다 / I miss you");

    const EmbeddedLyrics read = ReadEmbeddedLyrics(song);
    EXPECT_TRUE(read.found && read.timed);
    EXPECT_EQ(read.lrc, Utf8ToWide(uslt->text().to8Bit(true)));
}

// A file without a tag gets a v2.4 tag in UTF-8; its ID3v1 tag keeps its bytes. A second lyric
// replaces the first in the language a lyric frame names, and leaves other frames alone.
TEST_F(LyricTagTest, NoTagGetsVersion24AndLyricFramesOfTheSameLanguageAreReplaced) {
    const fs::path song = Copy("mpeg1-layer3-cbr128.mp3");
    std::string id3v1(128, '\0');
    id3v1.replace(0, 8, "TAGTitle");
    WriteFileBytes(song, ReadFileBytes(song) + id3v1);
    const std::string checksum = ChecksumOf(song);
    {
        TagLib::MPEG::File file(song.c_str());
        auto* other = new UnsynchronizedLyricsFrame(TagLib::String::UTF8);
        other->setLanguage("jpn");
        other->setDescription("ruby");
        other->setText("kept");
        file.ID3v2Tag(true)->addFrame(other);
        auto* english = new UnsynchronizedLyricsFrame(TagLib::String::UTF8);
        english->setLanguage("eng");
        english->setText("replaced");
        file.ID3v2Tag()->addFrame(english);
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                              TagLib::File::DoNotDuplicate));
    }
    ASSERT_TRUE(EmbedLyrics(song, u"[00:01.00]one\r\n"));
    ASSERT_TRUE(EmbedLyrics(song, Lrc));
    EXPECT_EQ(ChecksumOf(song), checksum);
    EXPECT_EQ(ReadFileBytes(song).substr(ReadFileBytes(song).size() - 128), id3v1);

    TagLib::MPEG::File file(song.c_str());
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
    EXPECT_EQ(tag->header()->majorVersion(), 4u);
    const auto lyrics = tag->frameList("USLT");
    ASSERT_EQ(lyrics.size(), 2u);
    auto* kept = dynamic_cast<UnsynchronizedLyricsFrame*>(lyrics[0]);
    auto* ours = dynamic_cast<UnsynchronizedLyricsFrame*>(lyrics[1]);
    EXPECT_EQ(kept->text(), "kept");
    EXPECT_EQ(ours->language(), TagLib::ByteVector("eng"));
    EXPECT_EQ(ours->textEncoding(), TagLib::String::UTF8);
    EXPECT_EQ(tag->frameList("SYLT").size(), 1u);
    EXPECT_EQ(dynamic_cast<SynchronizedLyricsFrame*>(tag->frameList("SYLT")[0])->language(),
              TagLib::ByteVector("eng"));
}

// Every fixture with a checksum keeps it after embedding, or is refused, left byte for byte as it
// was and with no copy beside it: the one whose checksum region starts inside its tag, and the
// MPEG-1 Layer III songs given a row at 65,530 ms. Files without audio, and a v2.2 tag, are
// refused as well.
TEST_F(LyricTagTest, EverySongKeepsItsChecksumOrIsLeftAsItWas) {
    for (const auto& expected : fixtures::LoadExpectedChecksums()) {
        for (const std::u16string* lrc : {&Lrc, &LrcWithSyncTime}) {
            const fs::path song = Copy(expected.name);
            const std::string before = ReadFileBytes(song);
            const std::string checksum = ChecksumOf(song);
            const WriteResult stored = EmbedLyrics(song, *lrc);
            const bool insideTag = expected.name == "id3v2-sync-pattern-in-tag-mpeg1-layer3.mp3";
            if (stored) {
                EXPECT_EQ(ChecksumOf(song), checksum) << expected.name;
            } else {
                EXPECT_EQ(ReadFileBytes(song), before) << expected.name;
                EXPECT_TRUE(checksum.empty() || insideTag || lrc == &LrcWithSyncTime)
                    << expected.name << ": " << stored.cause;
            }
            if (insideTag || (lrc == &LrcWithSyncTime && expected.name == "mpeg1-layer3-vbr.mp3")) {
                EXPECT_EQ(stored.cause,
                          "태그를 바꾸면 곡의 오디오 채크썸이 달라지므로 그대로 둡니다");
            }
            EXPECT_EQ(std::distance(fs::directory_iterator(scratch.Path()), {}), 1);
            fs::remove(song);
        }
    }

    // An ID3v2.2 tag: TT2 "Old" before the audio.
    const fs::path old = scratch.Path() / "old.mp3";
    const std::string frame = std::string("TT2\0\0\x05\0Old\0", 11);
    WriteFileBytes(old, std::string("ID3\x02\0\0\0\0\0", 9) + char(frame.size()) + frame +
                            ReadFileBytes(AudioFixture("mpeg1-layer3-cbr128.mp3")));
    const std::string before = ReadFileBytes(old);
    const WriteResult refused = EmbedLyrics(old, Lrc);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.cause, "ID3v2.2 태그는 그대로 둡니다");
    EXPECT_EQ(ReadFileBytes(old), before);
}

// A tag with 20 MiB of cover art keeps the picture byte for byte; a tag whose header TagLib
// cannot read is left as it was.
TEST_F(LyricTagTest, BigCoverArtIsKeptAndABrokenHeaderIsLeftAlone) {
    const fs::path song = Copy("mpeg1-layer3-cbr128.mp3");
    TagLib::ByteVector picture(20 << 20, '\0');
    for (unsigned i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 7 % 127);
    {
        TagLib::MPEG::File file(song.c_str());
        auto* cover = new TagLib::ID3v2::AttachedPictureFrame;
        cover->setMimeType("image/png");
        cover->setPicture(picture);
        file.ID3v2Tag(true)->addFrame(cover);
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3,
                              TagLib::File::DoNotDuplicate));
    }
    const std::string checksum = ChecksumOf(song);
    ASSERT_TRUE(EmbedLyrics(song, Lrc));
    EXPECT_EQ(ChecksumOf(song), checksum);
    TagLib::MPEG::File file(song.c_str());
    const auto pictures = file.ID3v2Tag()->frameList("APIC");
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_TRUE(dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(pictures[0])->picture() ==
                picture);
    EXPECT_EQ(file.ID3v2Tag()->frameList("USLT").size(), 1u);

    const fs::path broken = Copy("id3v2-4096-mpeg1-layer3.mp3", "broken.mp3");
    std::string bytes = ReadFileBytes(broken);
    bytes[7] = '\x80';  // a size byte over 127
    WriteFileBytes(broken, bytes);
    const WriteResult refused = EmbedLyrics(broken, Lrc);
    EXPECT_EQ(refused.cause, "ID3v2 태그 머리가 깨져 있어 그대로 둡니다");
    EXPECT_EQ(ReadFileBytes(broken), bytes);
}

}  // namespace
}  // namespace quillon
