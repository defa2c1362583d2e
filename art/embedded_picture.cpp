#include "art/embedded_picture.h"

#include <windows.h>

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/tiostream.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>

#include "art/image_facts.h"
#include "win32/file_handle.h"

namespace velmora {

namespace {

// A track file as TagLib reads it: read-only, shared for every kind of access so that the player's own tag editing,
// a rename or a removal never fails because of us, and empty reads once the deadline has passed.
class track_file_stream final : public TagLib::IOStream {
public:
    track_file_stream(const std::wstring& path, unsigned long long deadline)
        : path_(path),
          file_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)),
          deadline_(deadline)
    {}

    bool timed_out() const { return timed_out_; }

    TagLib::FileName name() const override { return path_.c_str(); }

    TagLib::ByteVector readBlock(unsigned long wanted) override
    {
        if (!file_.valid() || wanted == 0)
            return {};
        if (GetTickCount64() >= deadline_) {
            timed_out_ = true;
            return {};
        }
        // A size field that lies asks for more than the file holds.
        const long left = length() - tell();
        if (left <= 0)
            return {};
        const DWORD count =
            wanted > static_cast<unsigned long>(left) ? static_cast<DWORD>(left) : static_cast<DWORD>(wanted);
        TagLib::ByteVector block(static_cast<unsigned>(count), 0);
        DWORD read = 0;
        if (!ReadFile(file_.get(), block.data(), count, &read, nullptr))
            read = 0;
        block.resize(read);
        return block;
    }

    // Tags are only read here.
    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    void truncate(long) override {}
    bool readOnly() const override { return true; }

    bool isOpen() const override { return file_.valid(); }

    void seek(long offset, Position from) override
    {
        if (!file_.valid())
            return;
        const DWORD method = from == Beginning ? FILE_BEGIN : from == Current ? FILE_CURRENT : FILE_END;
        LARGE_INTEGER distance;
        distance.QuadPart = offset;
        SetFilePointerEx(file_.get(), distance, nullptr, method);
    }

    long tell() const override
    {
        LARGE_INTEGER none{}, position{};
        if (!file_.valid() || !SetFilePointerEx(file_.get(), none, &position, FILE_CURRENT))
            return 0;
        return static_cast<long>(position.QuadPart);
    }

    // TagLib counts in long: a file beyond 2 GiB is read as far as that reaches.
    long length() override
    {
        LARGE_INTEGER size{};
        if (!file_.valid() || !GetFileSizeEx(file_.get(), &size))
            return 0;
        return size.QuadPart > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<long>(size.QuadPart);
    }

private:
    std::wstring path_;
    file_handle file_;
    unsigned long long deadline_;
    bool timed_out_ = false;
};

// Collects the first picture of each kind whose bytes are a picture.
class picture_collector {
public:
    explicit picture_collector(embedded_pictures& found) : found_(found) {}

    void add(const TagLib::ByteVector& bytes, bool front_cover)
    {
        std::string& slot = front_cover ? found_.front_cover : found_.first_other;
        if (!slot.empty() || !sniff_image(std::string_view(bytes.data(), bytes.size())))
            return;
        slot.assign(bytes.data(), bytes.size());
    }

    void add_id3v2(TagLib::ID3v2::Tag* tag)
    {
        if (tag == nullptr)
            return;
        // Version 2.2's PIC frames arrive here as APIC frames too.
        for (TagLib::ID3v2::Frame* frame : tag->frameListMap()["APIC"]) {
            if (const auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame))
                add(picture->picture(), picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        }
    }

    void add_flac_pictures(const TagLib::List<TagLib::FLAC::Picture*>& pictures)
    {
        for (const TagLib::FLAC::Picture* picture : pictures)
            add(picture->data(), picture->type() == TagLib::FLAC::Picture::FrontCover);
    }

    void add_xiph(TagLib::Ogg::XiphComment* comment)
    {
        if (comment != nullptr)
            add_flac_pictures(comment->pictureList());
    }

    // An APE tag's picture items hold a file name, a zero byte, then the picture.
    void add_ape(TagLib::APE::Tag* tag)
    {
        if (tag == nullptr)
            return;
        for (const auto& entry : tag->itemListMap()) {
            const TagLib::String& key = entry.first;
            if (!key.startsWith("COVER ART (") || entry.second.type() != TagLib::APE::Item::Binary)
                continue;
            const TagLib::ByteVector value = entry.second.binaryData();
            const int name_end = value.find('\0');
            if (name_end >= 0)
                add(value.mid(static_cast<unsigned>(name_end) + 1), key == "COVER ART (FRONT)");
        }
    }

    // MP4 gives no picture types: its covr items are the cover, so the first counts as the front cover.
    void add_mp4(TagLib::MP4::Tag* tag)
    {
        if (tag == nullptr || !tag->contains("covr"))
            return;
        for (const TagLib::MP4::CoverArt& art : tag->item("covr").toCoverArtList())
            add(art.data(), true);
    }

    void add_asf(TagLib::ASF::Tag* tag)
    {
        if (tag == nullptr || !tag->contains("WM/Picture"))
            return;
        for (const TagLib::ASF::Attribute& attribute : tag->attribute("WM/Picture")) {
            const TagLib::ASF::Picture picture = attribute.toPicture();
            if (picture.isValid())
                add(picture.picture(), picture.type() == TagLib::ASF::Picture::FrontCover);
        }
    }

private:
    embedded_pictures& found_;
};

void collect(TagLib::File* file, picture_collector& pictures)
{
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
        pictures.add_id3v2(mpeg->ID3v2Tag());
        pictures.add_ape(mpeg->APETag());
    } else if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
        pictures.add_flac_pictures(flac->pictureList());
        pictures.add_xiph(flac->xiphComment());
        pictures.add_id3v2(flac->ID3v2Tag());
    } else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
        pictures.add_mp4(mp4->tag());
    } else if (auto* vorbis = dynamic_cast<TagLib::Ogg::Vorbis::File*>(file)) {
        pictures.add_xiph(vorbis->tag());
    } else if (auto* opus = dynamic_cast<TagLib::Ogg::Opus::File*>(file)) {
        pictures.add_xiph(opus->tag());
    } else if (auto* ogg_flac = dynamic_cast<TagLib::Ogg::FLAC::File*>(file)) {
        pictures.add_xiph(ogg_flac->tag());
    } else if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file)) {
        pictures.add_asf(asf->tag());
    } else if (auto* ape = dynamic_cast<TagLib::APE::File*>(file)) {
        pictures.add_ape(ape->APETag());
    } else if (auto* wavpack = dynamic_cast<TagLib::WavPack::File*>(file)) {
        pictures.add_ape(wavpack->APETag());
    } else if (auto* musepack = dynamic_cast<TagLib::MPC::File*>(file)) {
        pictures.add_ape(musepack->APETag());
    } else if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
        pictures.add_id3v2(wav->ID3v2Tag());
    } else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) {
        pictures.add_id3v2(aiff->tag());
    }
}

} // namespace

embedded_pictures read_embedded_pictures(const std::wstring& track_path, unsigned long long deadline, bool& timed_out)
{
    embedded_pictures found;
    track_file_stream stream(track_path, deadline);
    if (stream.isOpen()) {
        const TagLib::FileRef track(&stream, false);
        if (!track.isNull()) {
            picture_collector pictures(found);
            collect(track.file(), pictures);
        }
    }
    timed_out = stream.timed_out();
    return found;
}

} // namespace velmora
