// Work on a list of jobs shared by a few threads, its results taken in the
// list's order by the thread that asked: what the jobs do may overlap, what
// they tell and what follows from it happens one after another, as without
// threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

namespace velmo::cli {

// Runs work(i) for i = 0 … count-1 on `threads` threads and hands each i to
// take(i) on the calling thread, in order, once work(i) is done. No job starts
// more than `ahead` places beyond the one take waits for, so that the results
// waiting (and the memory they hold) stay few; a job's result may live in a
// slot of its own at i % ahead. When take returns false no further job starts:
// those started meanwhile finish and go to left(i), in order (left must not
// throw). With one thread every job runs on the calling thread, in order,
// right before its take, and none starts after a take that returned false.
//
// An exception thrown by work(i) is thrown again where take(i) would be
// called, one thrown by take goes on from there: either way the jobs started
// after it finish and go to left first, and no thread stays behind.
void RunInOrder(std::size_t threads, std::size_t count, std::size_t ahead,
                const std::function<void(std::size_t)>& work,
                const std::function<bool(std::size_t)>& take,
                const std::function<void(std::size_t)>& left);

// Lets jobs of RunInOrder that may run at once take one step in the list's
// order: Enter(i) waits until every job before i has left (Leave). Each job
// leaves once, also when it fails or never gets as far as its step. Since jobs
// start in order, the earliest job still running never waits.
class InTurn {
  public:
    // For jobs started at most `ahead` places beyond the first not yet taken,
    // as RunInOrder starts them.
    explicit InTurn(std::size_t ahead) : early_(ahead, 0) {}
    void Enter(std::size_t index);
    void Leave(std::size_t index);

    // One job's step: left when Leave is called, or at the latest when the
    // job's scope ends.
    class Step {
      public:
        Step(InTurn& turn, std::size_t index) : turn_(turn), index_(index) {}
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;
        ~Step() { Leave(); }
        void Enter() { turn_.Enter(index_); }
        void Leave() {
            if (!left_)
                turn_.Leave(index_);
            left_ = true;
        }

      private:
        InTurn& turn_;
        std::size_t index_;
        bool left_ = false;
    };

  private:
    std::mutex mutex_;
    std::condition_variable next_;
    std::size_t done_ = 0;    // jobs 0 … done_-1 have left
    std::vector<char> early_; // by i % ahead: job i left before its turn came
};

} // namespace velmo::cli
