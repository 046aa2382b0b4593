// The recording file: one JSON object per line, appended by every process
// that records into it. Its writer (the module), its reader (the simulator
// and the tool) and its schema in the documentation all take their words
// from here, so that a field renamed in one place is renamed in all.
//
// A process that starts recording first appends a session record, then one
// call record per forwarded call:
//   {"format":"zelbridge-recording","version":1,"pid":4242,"started":"2026-12-09T11:53:19Z"}
//   {"pid":4242,"t":0.000,"thread":1,"entry":"DefineSystem","args":["Simulator.dll","SIM_"],"result":0}
//   {"pid":4242,"t":7.802,"thread":1,"entry":"ConnectUSB","system":0,"args":["stage.json"],"result":0}
//   {"pid":4242,"t":9.820,"thread":1,"entry":"ZelGetAnswer","system":0,"args":[],"result":0,"answer":"QX Motion,..."}
// Files written before the format had a version hold call records only,
// without "pid"; readers take them as one process.
#pragma once

#include <cstddef>

namespace zelbridge::recording {

inline constexpr char kFormatName[] = "zelbridge-recording";
inline constexpr int kFormatVersion = 1;

// The session record.
inline constexpr char kFormatField[] = "format";
inline constexpr char kVersionField[] = "version";
inline constexpr char kStartedField[] = "started"; // UTC, ISO 8601

// Both kinds of record.
inline constexpr char kProcessField[] = "pid";

// A call record.
inline constexpr char kTimeField[] = "t";           // milliseconds since the process's first record
inline constexpr char kThreadField[] = "thread";    // 1, 2, ... in the order threads first record
inline constexpr char kEntryField[] = "entry";      // the entry point the application called
inline constexpr char kSystemField[] = "system";    // generic calls: the system index
inline constexpr char kArgumentsField[] = "args";   // numbers, texts as strings (null for a null pointer)
inline constexpr char kResultField[] = "result";    // absent for an entry point without one
inline constexpr char kAnswerField[] = "answer";    // what the driver wrote into a buffer
inline constexpr char kSizeField[] = "size";        // what the driver wrote into an integer
inline constexpr char kCutField[] = "cut";          // true: a text or answer is longer than kTextBound
inline constexpr char kAnswerLengthField[] = "answer_length"; // with "cut": the length the driver wrote

// A text argument or an answer is recorded whole up to this many bytes; a
// longer one is recorded to this length, and the record says "cut": true and,
// for an answer, its whole length.
inline constexpr std::size_t kTextBound = 1024 * 1024;

} // namespace zelbridge::recording
