#pragma once
#include <cstdint>

// What went wrong in a proxy auto-configuration lookup, kept as its thread finds it and written
// to the log once the lookup has ended: fixed texts and a number each, so that nothing is built
// until it is written.
struct LookupNotes {
    enum class Form : uint8_t {
        Line,      // the text as it is
        Call,      // "<text> failed with error <code>"
        Number,    // the text, then the code in decimal
        ExitCode,  // the text, then " (exit code 0x<code in hex>)"
    };
    struct Note {
        const char* text;
        uint32_t code;
        Form form;
    };
    Note notes[12];
    int count = 0;

    // Gives back false, for the caller to return.
    bool Add(const char* text, uint32_t code = 0, Form form = Form::Line);
    // The call that has just failed, with its error.
    bool CallFailed(const char* call);
};
