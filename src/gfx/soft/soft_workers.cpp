// The software backend's thread pool. Threads are made once, with the
// device, and sleep between batches. A batch is a count of numbered jobs that
// the threads take one at a time from a shared counter until none are left.
// The caller starts a batch and may go on with its own work; when it comes to
// finish it, it takes the jobs still left itself and returns only when every
// worker has left the batch, so nothing of it is touched once finish has
// returned. The batch's description is written under the mutex before the
// workers are woken, which is what makes it visible to them.
#include "gfx/soft/soft_scene.h"

SoftWorkers::SoftWorkers(int threads)
{
    for (int i = 1; i < threads; ++i)
        workers_.emplace_back(&SoftWorkers::worker_loop, this);
}

SoftWorkers::~SoftWorkers()
{
    finish();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

void SoftWorkers::take_jobs()
{
    for (;;) {
        int index = next_.fetch_add(1, std::memory_order_relaxed);
        if (index >= count_)
            return;
        job_(user_, index);
    }
}

void SoftWorkers::start(int count, Job job, void* user)
{
    finish();
    if (workers_.empty()) {
        // Nobody to hand the jobs to: run them now rather than at finish.
        for (int i = 0; i < count; ++i)
            job(user, i);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = job;
        user_ = user;
        count_ = count;
        next_.store(0, std::memory_order_relaxed);
        busy_ = int(workers_.size());
        ++batch_;
    }
    started_ = true;
    wake_.notify_all();
}

bool SoftWorkers::done()
{
    if (!started_)
        return true;
    std::lock_guard<std::mutex> lock(mutex_);
    return busy_ == 0;
}

void SoftWorkers::finish()
{
    if (!started_)
        return;
    take_jobs();
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return busy_ == 0; });
    started_ = false;
}

void SoftWorkers::run(int count, Job job, void* user)
{
    start(count, job, user);
    finish();
}

void SoftWorkers::worker_loop()
{
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return quit_ || batch_ != seen; });
        if (quit_)
            return;
        seen = batch_;
        lock.unlock();
        take_jobs();
        lock.lock();
        if (--busy_ == 0)
            finished_.notify_one();
    }
}
