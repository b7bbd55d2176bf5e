#include "support/carried_inputs.h"

#include <windows.h>
#include <fdi.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "support/installer_log.h"
#include "support/portable/carried_inputs.h"
#include "support/win32_handle.h"

namespace {

const wchar_t kCabinetResource[] = L"CARRIED_INPUTS";
// The only file the cabinet reader is ever let open: the cabinet in the resource.
char kCabinetName[] = "carried-inputs.cab";
char kNoFolder[] = "";

// The cabinet as the resource holds it; it lives as long as the process.
struct Cabinet {
    bool looked = false;
    bool present = false;  // the exe has the resource, even if it cannot be loaded
    const unsigned char* bytes = nullptr;
    DWORD size = 0;
};

// The cabinet reader's callbacks get no context but the handles they hand out, so each handle
// is one of these: the cabinet being read, or the one file being unpacked into memory.
struct Stream {
    const unsigned char* source = nullptr;
    size_t size = 0;
    size_t at = 0;
    std::vector<unsigned char>* target = nullptr;
};

// The file one unpacking looks for.
struct Wanted {
    const std::wstring* name = nullptr;
    std::vector<unsigned char>* bytes = nullptr;
    bool found = false;
    bool complete = false;
};

// One unpacking at a time: the cabinet reader's open callback finds the cabinet here.
StaticCriticalSection g_cabinetLock;
Cabinet g_cabinet;

const Cabinet& TheCabinet()
{
    if (g_cabinet.looked) return g_cabinet;
    g_cabinet.looked = true;
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, kCabinetResource, MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (!found) return g_cabinet;
    g_cabinet.present = true;
    const HGLOBAL loaded = LoadResource(module, found);
    g_cabinet.bytes = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    g_cabinet.size = g_cabinet.bytes ? SizeofResource(module, found) : 0;
    return g_cabinet;
}

// ---- the cabinet reader's callbacks: none may throw ----

void* DIAMONDAPI Allocate(ULONG size) noexcept { return std::malloc(size); }
void DIAMONDAPI Release(void* memory) noexcept { std::free(memory); }

INT_PTR DIAMONDAPI OpenCabinet(char* name, int, int) noexcept
{
    if (!name || std::strcmp(name, kCabinetName) != 0 || !g_cabinet.bytes) return -1;
    Stream* stream = new (std::nothrow) Stream;
    if (!stream) return -1;
    stream->source = g_cabinet.bytes;
    stream->size = g_cabinet.size;
    return reinterpret_cast<INT_PTR>(stream);
}

UINT DIAMONDAPI ReadStream(INT_PTR handle, void* buffer, UINT count) noexcept
{
    Stream* stream = reinterpret_cast<Stream*>(handle);
    if (!stream->source) return static_cast<UINT>(-1);
    const size_t left = stream->size - stream->at;
    const size_t taken = count < left ? count : left;
    std::memcpy(buffer, stream->source + stream->at, taken);
    stream->at += taken;
    return static_cast<UINT>(taken);
}

UINT DIAMONDAPI WriteStream(INT_PTR handle, void* buffer, UINT count) noexcept
{
    Stream* stream = reinterpret_cast<Stream*>(handle);
    if (!stream->target || stream->target->size() + count > Carried::kMaxFileSize) return static_cast<UINT>(-1);
    const size_t at = stream->target->size();
    try {
        stream->target->resize(at + count);
    } catch (...) {
        return static_cast<UINT>(-1);
    }
    std::memcpy(stream->target->data() + at, buffer, count);
    return count;
}

int DIAMONDAPI CloseStream(INT_PTR handle) noexcept
{
    delete reinterpret_cast<Stream*>(handle);
    return 0;
}

long DIAMONDAPI SeekStream(INT_PTR handle, long distance, int origin) noexcept
{
    Stream* stream = reinterpret_cast<Stream*>(handle);
    const long long base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? static_cast<long long>(stream->at)
                                                                        : static_cast<long long>(stream->size);
    const long long to = base + distance;
    if (to < 0 || to > static_cast<long long>(stream->size)) return -1;
    stream->at = static_cast<size_t>(to);
    return static_cast<long>(to);
}

INT_PTR DIAMONDAPI Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION note) noexcept
{
    Wanted* wanted = static_cast<Wanted*>(note->pv);
    switch (type) {
    case fdintCOPY_FILE: {
        // Every other file is skipped; each lies in a folder of its own, so it is not unpacked.
        if (wanted->found || !Carried::IsName(note->psz1, *wanted->name)) return 0;
        if (note->cb < 0 || static_cast<unsigned long>(note->cb) > Carried::kMaxFileSize) return -1;
        Stream* stream = new (std::nothrow) Stream;
        if (!stream) return -1;
        stream->target = wanted->bytes;
        wanted->found = true;
        return reinterpret_cast<INT_PTR>(stream);
    }
    case fdintCLOSE_FILE_INFO:
        CloseStream(note->hf);
        wanted->complete = true;
        return TRUE;
    case fdintCABINET_INFO:
        return 0;
    default:
        // The packer writes one cabinet whose files are whole: a file continued from or into
        // another cabinet, or anything else the reader did not expect, means the cabinet is
        // damaged. Asking for another cabinet, or going on past it, could make the reader loop.
        return -1;
    }
}

}  // namespace

void UseCarriedCabinetForTesting(const unsigned char* bytes, size_t size)
{
    StaticCriticalSectionLock lock(g_cabinetLock);
    static Cabinet own;
    if (!own.looked) own = TheCabinet();
    g_cabinet = own;
    if (!bytes) return;
    g_cabinet.present = true;
    g_cabinet.bytes = bytes;
    g_cabinet.size = static_cast<DWORD>(size);
}

bool CarriesInputs()
{
    StaticCriticalSectionLock lock(g_cabinetLock);
    return TheCabinet().present;
}

bool ReadCarriedInput(const std::wstring& name, std::vector<unsigned char>* bytes)
{
    bytes->clear();
    StaticCriticalSectionLock lock(g_cabinetLock);
    if (!TheCabinet().bytes) return false;
    ERF error{};
    const HFDI reader = FDICreate(Allocate, Release, OpenCabinet, ReadStream, WriteStream, CloseStream, SeekStream,
                                  cpuUNKNOWN, &error);
    if (!reader) {
        Log("ERROR: the inputs built into the installer cannot be read");
        return false;
    }
    Wanted wanted;
    wanted.name = &name;
    wanted.bytes = bytes;
    const BOOL copied = FDICopy(reader, kCabinetName, kNoFolder, 0, Notify, nullptr, &wanted);
    FDIDestroy(reader);
    if (copied && wanted.complete) return true;
    if (!copied) Log("ERROR: the inputs built into the installer cannot be read");
    bytes->clear();
    return false;
}
