// What an operation may ask of whoever runs it: the window, the command line, or a test.
#pragma once

#include <string>
#include <vector>

namespace quillmere {

class Operator {
 public:
  virtual ~Operator() = default;
  // A modal message; the caller carries on after it.
  virtual void ErrorWindow(const std::string& message) = 0;
  // A Yes/No question; true only for Yes.
  virtual bool Confirm(const std::string& prompt) = 0;
  // The status line.
  virtual void SetStatus(const std::string& text) = 0;
  // Lets the window repaint and handle input.
  virtual void ProcessEvents() = 0;
  // Opens `path` with the desktop's associated program, without waiting.
  virtual void Launch(const std::string& path) = 0;
  // Progress of a long scan, `done` of `total` (bytes or rows); repaints without input.
  virtual void ShowProgress(long long /*done*/, long long /*total*/) {}
  // A question whose answers say what they do ("Post it again", "Cancel"): the index of the
  // answer chosen, or -1 when none was (the command line asks nothing; a closed dialog).
  virtual int Choose(const std::string& /*question*/, const std::vector<std::string>& /*answers*/) {
    return -1;
  }
  // True once the operator asked to stop the running operation (and confirmed it).
  virtual bool StopRequested() { return false; }
};

}  // namespace quillmere
