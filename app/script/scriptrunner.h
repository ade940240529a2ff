// Script files: one expression per line, each line traced, tokenised, reduced and its
// result reported. Everything goes to the message log through an injected sink.
#pragma once

#include "script/scriptlexer.h"

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace vexa::script {

// Receives (channel, line) for the message log.
using LogSink = std::function<void(int channel, const std::string& line)>;

// The channel of the program's own messages.
constexpr int kScriptLogChannel = 1;

// Lines are read in pieces of at most this many characters; a longer line is
// processed as several lines.
constexpr size_t kMaxLineRead = 198;

// Processes one non-empty line numbered lineNumber (from 1): traces it, lexes it,
// reports a lexical error with "Erreur de script à la ligne %d : %s" and
// "Code correct : %s", reduces it and reports "Résultat : %f" when one number is
// left. True when the line may be followed by the next one.
bool processScriptLine(int lineNumber, std::string_view line, const TraceSink& trace);

// Runs every line of an open stream, stopping after the first line that fails.
// True when the whole stream was processed.
bool runScriptStream(std::FILE* stream, const TraceSink& trace);

// Runs a script file; "Fichier inconnu" when it cannot be opened. True when every
// line was processed.
bool runScriptFile(const std::string& path, const LogSink& sink, int channel = kScriptLogChannel);

// The script command: asks for the file with the box "Script%s%n" (the path is
// remembered for the run) and runs it. False when the dialog was closed or the
// script stopped early.
bool runScriptCommand(const LogSink& sink, int channel = kScriptLogChannel);

// The path the script command offers next.
std::string scriptCommandPath();

} // namespace vexa::script
