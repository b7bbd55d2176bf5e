#include "support/portable/der.h"

#include <cstring>

bool ReadDerItem(const uint8_t* der, size_t at, size_t limit, DerItem* item)
{
    if (!der || at >= limit || limit - at < 2) return false;
    item->tag = der[at];
    // Multi-byte tags never occur in the items read here.
    if ((item->tag & 0x1F) == 0x1F) return false;
    size_t length = der[at + 1];
    at += 2;
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        if (count == 0 || count > 4 || limit - at < count) return false;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | der[at + i];
        at += count;
        // DER writes every length in its shortest form.
        if (length < 0x80 || der[at - count] == 0) return false;
    }
    if (length > limit - at) return false;
    item->contents = at;
    item->end = at + length;
    return true;
}

bool DerContentsEqual(const uint8_t* der, const DerItem& item, const uint8_t* bytes, size_t size)
{
    return item.end - item.contents == size && std::memcmp(der + item.contents, bytes, size) == 0;
}
