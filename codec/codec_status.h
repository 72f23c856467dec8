// Results of the codec's operations and its diagnostics.
//
// The codec reports every failure to its caller: it writes its own message to
// standard error (the messages users and scripts have always seen from it)
// and returns a status that the format class turns into a result code.
#pragma once

namespace wif {

enum class Status : int {
  Ok = 0,
  Failed = -1,    // a write, seek or close failed, or the arguments were refused
  Corrupt = -2,   // the stream is not valid WIF
  NoMemory = -3,  // a buffer could not be allocated or exceeds the memory ceiling
};

inline int ToResult(Status s) { return static_cast<int>(s); }

// Writes a fatal diagnostic: the message followed by a space and a newline.
void ReportFatal(const char* message);
// Writes a diagnostic exactly as given.
void Report(const char* message);

// Holds back the diagnostics of the current thread while it lives: an attempt
// that may be thrown away (decoding planes at once, before the sequential
// path takes over) must not print what the sequential path will print again.
class QuietReports {
 public:
  QuietReports();
  ~QuietReports();
  QuietReports(const QuietReports&) = delete;
  QuietReports& operator=(const QuietReports&) = delete;

 private:
  bool previous_;
};

// The diagnostics, word for word.
inline constexpr char kMsgWrongFormat[] = "decoder: wrong image format.";
inline constexpr char kMsgNoLevels[] = "decoder: a picture without transform levels cannot be decoded.";
inline constexpr char kMsgBadInput[] = "Bad input file\n";
inline constexpr char kMsgQuadBuf[] = "QuadBuf can not allocate\n";
inline constexpr char kMsgCompressInit[] = "Compress::init: can not allocate buffer\n";
inline constexpr char kMsgReadAlloc[] = "read: Can not allocate memory \n";
inline constexpr char kMsgReadColorAlloc[] = "read_color: Can not allocate memory \n";
inline constexpr char kMsgWriteAlloc[] = "write:  can not allocate memory\n";
inline constexpr char kMsgExpanse[] = "expanse: can not allocate memory\n";

}  // namespace wif
