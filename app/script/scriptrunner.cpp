#include "script/scriptrunner.h"

#include "params/paramapi.h"
#include "script/scriptreduce.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace vexa::script {
namespace {

// Reads like fgets into a 199-byte buffer: up to kMaxLineRead characters, or up to and
// including a line feed. The line ends at its first NUL byte, as a C string would.
bool readPiece(std::FILE* stream, std::string& piece)
{
    piece.clear();
    int c = 0;
    while (piece.size() < kMaxLineRead && (c = std::getc(stream)) != EOF) {
        piece.push_back(static_cast<char>(c));
        if (c == '\n')
            break;
    }
    if (piece.empty())
        return false;
    piece.resize(std::strlen(piece.c_str()));
    return true;
}

std::mutex pathMutex;
std::array<char, PARAM_STRING_BUFFER>& commandPath()
{
    static std::array<char, PARAM_STRING_BUFFER> path = [] {
        std::array<char, PARAM_STRING_BUFFER> p {};
        const char* home = std::getenv("HOME");
        std::string initial = home && *home ? std::string(home) + "/script.txt" : "script.txt";
        std::strncpy(p.data(), initial.c_str(), p.size() - 1);
        return p;
    }();
    return path;
}

} // namespace

bool processScriptLine(int lineNumber, std::string_view line, const TraceSink& trace)
{
    auto say = [&](const std::string& s) {
        if (trace)
            trace(s);
    };
    say(std::string(line));
    LexResult lexed = lexLine(line, trace);
    if (!lexed.ok) {
        say("Erreur de script à la ligne " + std::to_string(lineNumber) + " : "
            + std::string(line));
        say("Code correct : " + std::string(line.substr(0, lexed.errorPosition)));
        return false;
    }
    bool reduced = reduceTokens(lexed.tokens, trace);
    if (lexed.tokens.size() == 1 && lexed.tokens[0].kind == kTokenNumber) {
        char buffer[512];
        std::snprintf(buffer, sizeof buffer, "Résultat : %f", lexed.tokens[0].value);
        say(buffer);
    }
    return reduced;
}

bool runScriptStream(std::FILE* stream, const TraceSink& trace)
{
    if (!stream)
        return false;
    std::string piece;
    int lineNumber = 0;
    while (readPiece(stream, piece)) {
        if (!piece.empty() && piece.back() == '\n')
            piece.pop_back();
        if (!piece.empty() && piece.back() == '\r')
            piece.pop_back();
        if (piece.empty())
            continue;
        if (!processScriptLine(++lineNumber, piece, trace))
            return false;
    }
    return true;
}

bool runScriptFile(const std::string& path, const LogSink& sink, int channel)
{
    TraceSink trace;
    if (sink)
        trace = [&](const std::string& line) { sink(channel, line); };
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        if (trace)
            trace("Fichier inconnu");
        return false;
    }
    return runScriptStream(file.get(), trace);
}

std::string scriptCommandPath()
{
    std::lock_guard lock(pathMutex);
    return std::string(commandPath().data());
}

bool runScriptCommand(const LogSink& sink, int channel)
{
    // The dialog works on a copy so that two script commands never write the
    // remembered path at the same time.
    std::array<char, PARAM_STRING_BUFFER> path;
    {
        std::lock_guard lock(pathMutex);
        path = commandPath();
    }
    if (dozBoxParameter("Script%s%n", path.data()) != 1)
        return false;
    path.back() = '\0';
    {
        std::lock_guard lock(pathMutex);
        commandPath() = path;
    }
    return runScriptFile(path.data(), sink, channel);
}

} // namespace vexa::script
