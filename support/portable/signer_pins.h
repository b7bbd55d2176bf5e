#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/portable/sha256.h"

// The publishers a package must be signed by, each named by the SHA-256 of a certificate's
// SubjectPublicKeyInfo (its DER encoding). A key, not a name: a certificate authority can issue
// a certificate in anybody's name, but only the holder of the key can sign with it. The
// certificate may be the publisher's own or one of the authorities above it. None: the package's
// signature is not checked.
using SignerPins = std::vector<Sha256::Digest>;

// Reads a configuration value: one or more digests of 64 hexadecimal digits (either case)
// separated by ",", with white space around each allowed. Text of white space alone names no
// pin and is well formed. False for anything else (an empty entry included), with `pins` empty:
// a mistyped pin must never read as "no check".
bool ParseSignerPins(const std::string& text, SignerPins* pins);

// Where the SubjectPublicKeyInfo of a DER-encoded X.509 certificate lies: its whole encoding,
// tag and length included, at `offset` for `length` bytes. False for bytes that are not such a
// certificate (cut short, an item overrunning its container, a length form DER does not allow).
bool FindSubjectPublicKeyInfo(const uint8_t* der, size_t size, size_t* offset, size_t* length);

// The pin of a DER-encoded certificate; false when it is not one.
bool SignerPinOf(const uint8_t* der, size_t size, Sha256::Digest* pin);

// True when `pin` is among `pins`.
bool IsPinned(const SignerPins& pins, const Sha256::Digest& pin);
