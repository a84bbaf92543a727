// Work on a list of jobs shared by a few threads, its results taken in the
// list's order by the thread that asked: what the jobs do may overlap, what
// they tell and what follows from it happens one after another, as without
// threads.
#pragma once

#include <cstddef>
#include <functional>

namespace velmo::batch {

// Runs work(i) for i = 0 … count-1 on `threads` threads and hands each i to
// take(i) on the calling thread, in order, once work(i) is done. Each thread
// takes runs of jobs that follow each other, so that the threads meet (and
// may wake each other, which costs more than a small job) once a run. No job starts
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

} // namespace velmo::batch
