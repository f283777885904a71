#ifndef TRACKPOST_WORKER_PACING_H
#define TRACKPOST_WORKER_PACING_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

// A worker's clock and its pause between passes. Tests replace it to step the workers pass by
// pass and to move time without waiting.
class WorkerPacing {
  public:
    virtual ~WorkerPacing() = default;
    // Whole seconds on a clock that only moves forward.
    virtual std::int64_t now() = 0;
    // Milliseconds since the epoch on the wall clock, for times the service gives in epoch
    // seconds.
    virtual std::int64_t wallMillis() = 0;
    // The pause at the end of a pass; may return early once wake() is called, and must do so
    // promptly once `running` is false.
    virtual void pause(const std::atomic<bool>& running) = 0;
    // A pause with nothing to do for `ms` milliseconds (until woken when negative): where time
    // is real, it ends at wake() or then, so an idle worker never polls. Stepped, it is a pause.
    virtual void idle(const std::atomic<bool>& running, std::int64_t ms) {
        (void)ms;
        pause(running);
    }
    // There is news for the worker: work to do, or `running` was cleared.
    virtual void wake() = 0;
    // The pacing of another worker thread, on the same clocks. The real one pauses and wakes
    // each thread on its own; a test's lets the threads of one pass run in turn, this one's
    // first, then its lanes in the order they were made.
    virtual std::unique_ptr<WorkerPacing> lane() = 0;
    // Called by the thread before its first pass.
    virtual void begin(const std::atomic<bool>& running) { (void)running; }
};

// The real pacing: a monotonic clock, the system's wall clock and a 5 ms pause.
class SteadyPacing : public WorkerPacing {
  public:
    std::int64_t now() override;
    std::int64_t wallMillis() override;
    void pause(const std::atomic<bool>& running) override;
    void idle(const std::atomic<bool>& running, std::int64_t ms) override;
    void wake() override;
    std::unique_ptr<WorkerPacing> lane() override;

    static constexpr int PAUSE_MS = 5;

  private:
    std::mutex lock_;
    std::condition_variable woken_;
    bool wakeRequested_ = false;
};

#endif
