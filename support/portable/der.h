#pragma once
#include <cstddef>
#include <cstdint>

// Reading DER (the encoding of certificates and signatures) from bytes that came over the
// network: every item must lie inside its container, in the forms DER allows.

struct DerItem {
    uint8_t tag = 0;
    size_t contents = 0;  // where its contents begin
    size_t end = 0;       // one past its last byte
};

// The item at `at` inside [at, limit): its tag, and where its contents begin and end. Only the
// definite length forms DER allows, of up to four length bytes, and single-byte tags. False for
// anything else, or an item that overruns `limit`.
bool ReadDerItem(const uint8_t* der, size_t at, size_t limit, DerItem* item);

// True when the item's contents are exactly `size` bytes equal to `bytes` (an OID's, say).
bool DerContentsEqual(const uint8_t* der, const DerItem& item, const uint8_t* bytes, size_t size);
