// An Operator that writes every message it shows to the run log as well, and counts them, so
// that a message seen only in a box is never lost and the run's end can say how many there were.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "context/operator.h"
#include "context/run_log.h"

namespace quillmere {

class LoggingOperator : public Operator {
 public:
  // Both must outlive this object; `log` is written while it is open.
  LoggingOperator(Operator& inner, RunLog& log) : inner_(inner), log_(log) {}

  void ErrorWindow(const std::string& message) override {
    log_.Line(message);
    log_.Flush();
    ++messages_;
    inner_.ErrorWindow(message);
  }
  bool Confirm(const std::string& prompt) override { return inner_.Confirm(prompt); }
  void SetStatus(const std::string& text) override { inner_.SetStatus(text); }
  void ProcessEvents() override { inner_.ProcessEvents(); }
  void Launch(const std::string& path) override { inner_.Launch(path); }
  void ShowProgress(long long done, long long total) override { inner_.ShowProgress(done, total); }
  bool StopRequested() override { return inner_.StopRequested(); }
  // The question and the answer go into the run log, so it shows what the operator decided.
  int Choose(const std::string& question, const std::vector<std::string>& answers) override {
    log_.Line(question);
    const int chosen = inner_.Choose(question, answers);
    log_.Line(chosen >= 0 && static_cast<size_t>(chosen) < answers.size()
                  ? "Answer: " + answers[static_cast<size_t>(chosen)]
                  : std::string("No answer"));
    log_.Flush();
    return chosen;
  }

  // The messages shown so far.
  int64_t messages() const { return messages_; }

 private:
  Operator& inner_;
  RunLog& log_;
  int64_t messages_ = 0;
};

}  // namespace quillmere
