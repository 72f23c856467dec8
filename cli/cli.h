// The `lunark` command-line tool: shared pieces of its commands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/image.h"

namespace cli {

using Args = std::vector<std::string>;

// Prints "lunark: FILE: reason" (or "lunark: reason" without a file) on
// standard error.
void Fail(std::string_view file, std::string_view reason);
// The reason of the engine's last failure on this thread, or `fallback`.
std::string EngineReason(std::string_view fallback);
// Reason text for a LoadImage / SaveImage result code.
std::string LoadFailure(int result);
std::string SaveFailure(int result);

// Type ids by name ("bmp", "tiff", "jpeg", ...) and by a file's extension;
// -1 when unknown.
int TypeFromName(std::string_view name);
int TypeFromPath(std::string_view path);
// The usual name and extension of a type id ("BMP", ".bmp").
const char* TypeName(int type);
const char* TypeExtension(int type);
// Whether the engine can write files of the type.
bool IsWritableType(int type);

// Parses a whole decimal integer (sign allowed); false on anything else.
bool ParseInt(std::string_view text, int& value);

// Parses a memory size: a whole number of MiB, or with a unit K, M or G
// (binary: 1K = 1024 bytes), for example 2048, 512M, 4G. False on anything
// else, on zero and on sizes beyond 1 TiB.
bool ParseMemorySize(std::string_view text, uint64_t& bytes);
// Takes every "--max-memory SIZE" out of the arguments and sets the engine's
// ceiling on one picture's pixels (vxSetMaxImageBytes). False with `error`
// set for a missing or malformed size.
bool TakeMemoryOption(Args& args, std::string& error);

// Installs the notice sink that prints the engine's notices on standard error.
void InstallNoticePrinter();

// Operations applied to an image before it is saved, in command-line order.
struct Operation {
  std::string name;  // the option without its dashes
  std::string value;
};
// Recognises an operation option at args[i] (consuming its value); returns
// false when args[i] is not one. Sets `error` for a malformed value.
bool ParseOperation(const Args& args, size_t& i, std::vector<Operation>& ops, std::string& error);
// Applies the operations; false with `error` set when one failed.
bool ApplyOperations(vxImage& image, const std::vector<Operation>& ops, std::string& error);
// Help text of the operation options.
extern const char* const kOperationHelp;

int RunInfo(const Args& args);
int RunConvert(const Args& args);
int RunThumbnail(const Args& args);
int RunBatch(const Args& args);

}  // namespace cli
