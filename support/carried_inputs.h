#pragma once
#include <string>
#include <vector>

// A release exe carries its configuration, text tables and skin inside itself, and then reads
// those only: a file that a web page makes the browser drop beside the exe in the Downloads
// folder must never steer it. A development exe carries none and reads the loose files.

// True when this exe carries its inputs. Once true, a carried file that is missing or damaged
// counts as missing: nothing is ever taken from disk in its place.
bool CarriesInputs();

// The bytes of the carried file `name` ("ConfigFile.txt", "Resource-en-GB.txt",
// "Images\Small.bmp", ...; case is ignored). False when the exe carries no such file, or it
// cannot be unpacked.
bool ReadCarriedInput(const std::wstring& name, std::vector<unsigned char>* bytes);

// Test seam: `bytes` (kept by the caller) are read as the carried cabinet from now on; null
// gives back the exe's own.
void UseCarriedCabinetForTesting(const unsigned char* bytes, size_t size);
