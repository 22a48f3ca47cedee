// Reading records back through the index: record i, its bytes, the losses
// before it, and cursors that read on from a record.
#include <algorithm>
#include <cstring>

#include "column_line.h"
#include "records.h"
#include "records_scan.h"

namespace tarvo::recorded {

namespace {

// The line at `at` without its end (nor a carriage return before it), and
// in `length` its bytes up to the line end. The file was checked when it
// was indexed; should it change under the map, a line runs to the end of
// the indexed bytes (`bytes`) at most.
std::string_view lineAt(const char* data, uint64_t at, uint64_t bytes, size_t& length)
{
    const char* nl = static_cast<const char*>(std::memchr(data + at, '\n', bytes - at));
    if (nl == nullptr)
        nl = data + bytes;
    length = size_t(nl - (data + at));
    return {data + at, length > 0 && nl[-1] == '\r' ? length - 1 : length};
}

}  // namespace

uint64_t Records::offset(uint64_t i) const
{
    if (layout_.format == Format::Raw)
        return i * layout_.recordBytes();
    uint64_t at = offsets_[i / kBlock];
    for (uint64_t n = i % kBlock; n > 0 && at < bytes_; n--) {
        const void* nl = std::memchr(data_ + at, '\n', bytes_ - at);
        at = nl ? uint64_t(static_cast<const char*>(nl) - data_) + 1 : bytes_;
    }
    return at;
}

std::string_view Records::text(uint64_t i) const
{
    const uint64_t at = offset(i);
    if (layout_.format == Format::Raw)
        return {data_ + at, layout_.recordBytes()};
    size_t length = 0;
    return lineAt(data_, at, bytes_, length);
}

Record Records::record(uint64_t i) const
{
    Record r;
    scan::decode(text(i), layout_, r);
    return r;
}

uint64_t Records::lostBefore(uint64_t i) const
{
    if (!layout_.counter || i >= count_)
        return i >= count_ ? lost_ : 0;
    const uint64_t first = i / kBlock * kBlock;
    uint64_t lost = skips_[i / kBlock];
    Cursor c = cursor(first);
    Record r;
    c.next(r);
    unsigned prev = r.counter;
    for (uint64_t j = first + 1; j <= i && c.next(r); j++) {
        lost += scan::counterGap(prev, r.counter);
        prev = r.counter;
    }
    return lost;
}

void RecordCursor::release()
{
    // The system maps the pages around a page read too (a whole large folio
    // of the file cache: up to 2 MiB on Linux): those go as well.
    constexpr uint64_t around = 2 * 1024 * 1024;
    if (rs_ != nullptr && rs_->memory_.empty() && at_ > released_) {
        const uint64_t from = std::min(released_, start_) / around * around;
        rs_->file_.release(from, (at_ + around - 1) / around * around - from);
    }
    released_ = at_;
}

bool RecordCursor::next() { return next(skip_); }

unsigned RecordCursor::counter() const
{
    if (rs_->layout_.format == Format::Raw)
        return static_cast<unsigned char>(text_.back()) & 15;
    // The last column, read back from the line's end.
    unsigned v = 0, place = 1;
    for (size_t k = text_.size(); k > 0 && text_[k - 1] != ','; k--, place *= 10)
        v += unsigned(text_[k - 1] - '0') * place;
    return v & 15;
}

Records::Cursor Records::cursor(uint64_t first) const
{
    Cursor c;
    c.rs_ = this;
    c.i_ = first;
    c.at_ = first < count_ ? offset(first) : bytes_;
    c.released_ = c.at_;
    c.start_ = c.at_;
    if (layout_.format == Format::Columns && first < count_)
        c.start_ = offsets_[first / kBlock];  // offset() walked from there
    return c;
}

bool RecordCursor::next(Record& r)
{
    if (i_ >= rs_->count_)
        return false;
    const char* base = rs_->data_;
    if (rs_->layout_.format == Format::Raw) {
        const unsigned len = rs_->layout_.recordBytes();
        text_ = {base + at_, len};
        at_ += len;
    } else {
        if (at_ >= rs_->bytes_)
            return false;
        size_t length = 0;
        text_ = lineAt(base, at_, rs_->bytes_, length);
        at_ += length + 1;
    }
    if (&r != &skip_)
        scan::decode(text_, rs_->layout_, r);
    i_++;
    if (at_ - released_ >= scan::kRelease && rs_->memory_.empty()) {
        rs_->file_.release(released_, at_ - released_ - 4096);
        released_ = at_ - 4096;
    }
    return true;
}

}  // namespace tarvo::recorded
