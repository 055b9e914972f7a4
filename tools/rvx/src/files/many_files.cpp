#include "files/many_files.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <thread>

#include "shared/tool_error.h"

namespace rvx {

namespace {

// What one file's run printed, stdout and stderr in the order written.
struct Transcript {
  struct Part {
    bool error = false;
    std::string text;
  };
  std::vector<Part> parts;
  FileOutcome outcome = FileOutcome::Failed;
  std::exception_ptr unexpected;  // any other exception, rethrown where it is printed

  void append(bool error, const char* text, size_t length) {
    if (parts.empty() || parts.back().error != error) parts.push_back({error, {}});
    parts.back().text.append(text, length);
  }
  void print() const {
    for (const Part& part : parts) {
      if (part.error) {
        std::cout.flush();
        std::cerr << part.text;
      } else {
        std::cout << part.text;
      }
    }
  }
};

// An unbuffered stream buffer that appends to one side of a transcript.
class TranscriptBuffer : public std::streambuf {
 public:
  TranscriptBuffer(Transcript& transcript, bool error) : transcript_(transcript), error_(error) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    transcript_.append(error_, &ch, 1);
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize length) override {
    transcript_.append(error_, text, static_cast<size_t>(length));
    return length;
  }

 private:
  Transcript& transcript_;
  bool error_;
};

void runOne(size_t index, const EachFile& each, Transcript& transcript) {
  TranscriptBuffer outBuffer(transcript, false), errBuffer(transcript, true);
  std::ostream out(&outBuffer), err(&errBuffer);
  try {
    transcript.outcome = each(index, out, err);
  } catch (const ToolError& error) {
    err << "rvx: " << error.what() << '\n';
    transcript.outcome = FileOutcome::Failed;
  } catch (...) {
    transcript.unexpected = std::current_exception();
  }
}

void count(FileTally& tally, FileOutcome outcome) {
  switch (outcome) {
    case FileOutcome::Clean:
      ++tally.clean;
      break;
    case FileOutcome::Findings:
      ++tally.findings;
      break;
    case FileOutcome::Failed:
      ++tally.failed;
      break;
  }
}

}  // namespace

int FileTally::exitStatus() const { return findings + failed == 0 ? kExitOk : kExitFailure; }

std::string FileTally::summary(const char* cleanWord, const char* uncleanWord) const {
  std::string text = std::to_string(files()) + " files: " + std::to_string(clean) + " " + cleanWord;
  if (findings > 0) text += ", " + std::to_string(findings) + " " + uncleanWord;
  if (failed > 0) text += ", " + std::to_string(failed) + " not read";
  return text;
}

unsigned defaultJobs() { return std::max(1u, std::thread::hardware_concurrency()); }

FileTally forEachFile(const std::vector<std::string>& files, unsigned jobs, const EachFile& each) {
  const size_t n = files.size();
  std::vector<Transcript> transcripts(n);
  FileTally tally;
  // A file's transcript is printed once it and every file before it are done.
  const auto report = [&](size_t i) {
    transcripts[i].print();
    if (transcripts[i].unexpected) std::rethrow_exception(transcripts[i].unexpected);
    count(tally, transcripts[i].outcome);
    transcripts[i] = Transcript();
  };
  if (jobs <= 1 || n <= 1) {
    for (size_t i = 0; i < n; ++i) {
      runOne(i, each, transcripts[i]);
      report(i);
    }
    return tally;
  }
  std::vector<char> done(n, 0);
  std::mutex doneMutex;
  std::condition_variable doneChanged;
  std::atomic<size_t> next{0};
  // Each thread takes the next file that no thread has taken.
  const auto work = [&] {
    for (size_t i = next++; i < n; i = next++) {
      runOne(i, each, transcripts[i]);
      const std::lock_guard<std::mutex> lock(doneMutex);
      done[i] = 1;
      doneChanged.notify_all();
    }
  };
  std::vector<std::thread> threads;
  for (size_t t = 0; t < std::min<size_t>(jobs, n); ++t) threads.emplace_back(work);
  // An unexpected failure stops the threads taking files before it goes on.
  std::exception_ptr stopped;
  for (size_t i = 0; i < n && !stopped; ++i) {
    {
      std::unique_lock<std::mutex> lock(doneMutex);
      doneChanged.wait(lock, [&] { return done[i] != 0; });
    }
    try {
      report(i);
    } catch (...) {
      stopped = std::current_exception();
      next = n;
    }
  }
  for (std::thread& thread : threads) thread.join();
  if (stopped) std::rethrow_exception(stopped);
  return tally;
}

}  // namespace rvx
