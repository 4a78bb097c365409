// How long work tells whoever waits for it how far it got, and learns that it is no longer wanted.
#pragma once

#include <cstdint>

namespace qovira {

// Implemented by the window's commands and by tests. Called from the working thread and, while a
// side task runs, from that one too: implementations must be safe to call from several threads.
class Progress {
 public:
  virtual ~Progress() = default;

  // `done` of `total` units (bytes, lines or entries) of the current step.
  virtual void report(std::uint64_t done, std::uint64_t total) = 0;
  // Once true, a step may stop early and hand back an incomplete result: whoever cancelled throws
  // it away.
  virtual bool cancelled() const = 0;
};

// A step of a longer piece of work: its reports fill [from, to) of the whole's scale of
// PROGRESS_SCALE. Reports and questions go nowhere when there is no whole.
class ProgressPart final : public Progress {
 public:
  static constexpr std::uint64_t PROGRESS_SCALE = 1000;

  ProgressPart(Progress* whole, std::uint64_t from, std::uint64_t to)
      : whole_(whole), from_(from), to_(to) {}

  void report(std::uint64_t done, std::uint64_t total) override {
    if (whole_ != nullptr && total > 0) {
      const double share = static_cast<double>(done < total ? done : total) / total;
      whole_->report(from_ + static_cast<std::uint64_t>(share * (to_ - from_)), PROGRESS_SCALE);
    }
  }
  bool cancelled() const override { return whole_ != nullptr && whole_->cancelled(); }

 private:
  Progress* whole_;
  std::uint64_t from_;
  std::uint64_t to_;
};

// For the places that take a progress that may be absent.
inline bool cancelled(const Progress* progress) {
  return progress != nullptr && progress->cancelled();
}

}  // namespace qovira
