#include "output/encoded_text.h"

#include "text/output_encoding.h"
#include "text/text_conversion.h"

namespace velmora {

encoded_text::encoded_text(const utf8_string& text, std::int32_t encoding) : encoding_(encoding)
{
    switch (encoding) {
    case encoding_utf8:
        bytes_.assign(text.c_str(), text.size());
        break;
    case encoding_utf8_with_header:
        header_size_ = 3;
        bytes_.reserve(header_size_ + text.size());
        bytes_.assign("\xEF\xBB\xBF", header_size_);
        bytes_.append(text.c_str(), text.size());
        break;
    case encoding_unicode: {
        const wide_string wide = utf8_to_wide(text.c_str());
        const std::size_t body = (wide.size() - 1) * sizeof(wchar_t);
        header_size_ = 2;
        bytes_.reserve(header_size_ + body);
        bytes_.assign("\xFF\xFE", header_size_);
        bytes_.append(reinterpret_cast<const char*>(wide.text()), body);
        break;
    }
    case encoding_ansi: {
        const byte_buffer ansi = utf8_to_ansi(text.c_str());
        bytes_.assign(ansi.text(), ansi.size() - 1);
        break;
    }
    default:
        break;
    }
}

void encoded_text::append_entry(const encoded_text& later)
{
    const std::size_t skipped = later.encoding_ == encoding_utf8_with_header ? later.header_size_ : 0;
    bytes_.append(later.bytes_, skipped, std::string::npos);
}

} // namespace velmora
