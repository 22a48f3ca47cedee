// What is known about a recorded run: its settings, times, counts and
// events. They come from the run description (run.json) when the run has
// one; else from the run report (config.txt), which does not say whether a
// status byte followed each record nor the port, baud rate, end or losses;
// else they are guessed from an integer-columns file itself (its columns and
// how the last one counts), with no period.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "run_files.h"

namespace tarvo::recorded {

enum class Format { Columns, Raw };

// The settings a run was recorded with.
struct Settings {
    unsigned channels = 0;       // analog channels, 1..8
    bool statusByte = false;     // each record ended in a status byte
    bool digitalLines = false;   // the four digital lines were to be written
    bool recordCounter = false;  // the record counter was to be written
    Format format = Format::Columns;
    uint32_t periodUs = 0;  // sampling period; 0 when not known
    uint32_t baudRate = 0;  // 0 when not known
    int port = 0;           // port number; 0 when not known
    std::string device;     // the port's device, when known

    // Bytes of a record on the wire (and in a raw file).
    unsigned recordBytes() const;
    // What each record of the data file holds beside the samples: a raw
    // record holds its whole status byte, a line of columns what was chosen.
    bool fileHasDigital() const { return statusByte && (format == Format::Raw || digitalLines); }
    bool fileHasCounter() const { return statusByte && (format == Format::Raw || recordCounter); }
    // Values on a line of integer columns.
    unsigned columns() const;
};

struct Event {
    enum class Type { Loss, Silence };
    Type type = Type::Loss;
    // 1-based number of the received record at which the event was seen: a
    // loss's `missing` records were lost just before it; a silence began
    // after that many records.
    uint64_t record = 0;
    uint64_t missing = 0;  // Loss
    std::string start;     // Silence: ISO 8601 times; end empty while it lasts
    std::string end;
};

enum class Source { Description, Report, Guessed };

struct RunInfo {
    Source source = Source::Guessed;
    Settings settings;
    bool statusByteKnown = true;  // config.txt does not tell (see resolveLayout)
    std::string program;          // "tarvo 0.1.0", when known
    std::string start,
        end;  // ISO 8601 (config.txt: local time without zone); empty: unknown / not ended
    std::string endedBy;  // "stop", "quit", "port failed", "write failed"; empty: not ended
    bool ended = false;   // the recorder ended the run (else it runs, or was killed)
    std::optional<uint64_t> records;  // records as the recorder counted them
    uint64_t lost = 0;
    std::vector<Event> events;  // in the order seen
    uint64_t eventsDropped = 0;
    std::vector<std::string> notes;  // what was guessed or assumed, for the user
};

// The parsers, on texts. On failure `why` says what is wrong and where:
// "byte N: ..." in a description, "line N: ..." in a report or data file.
bool parseDescription(std::string_view text, RunInfo& out, std::string& why);
bool parseReport(std::string_view text, RunInfo& out, std::string& why);
// Guesses the settings of an integer-columns file from its first lines.
bool guessColumns(std::string_view head, RunInfo& out, std::string& why);

// Reads what the run's files say: run.json, else config.txt, else a guess
// from the head of the data file. `why` names the file at fault.
bool loadInfo(const RunFiles& files, std::string_view dataHead, RunInfo& out, std::string& why);

// Settles what a data file holds against what the run says of it, before it
// is read: a columns file's first line must have the columns the settings
// give. A status byte that the report
// does not tell is taken from `statusByte` (0 or 1, from the command line;
// -1: not given), else from the file: the columns of its first line, or the
// size of a raw file against the report's count. False, with the reason,
// when they do not fit or the file cannot tell.
bool resolveLayout(RunInfo& info, std::string_view dataHead, uint64_t dataSize, int statusByte,
                   std::string& why);

}  // namespace tarvo::recorded
