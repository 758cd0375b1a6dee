// The software backend's thread pool. Threads are made once, with the
// device, and sleep between batches. A batch is a count of numbered jobs that
// the threads (the caller among them) take one at a time from a shared
// counter until none are left; the caller returns only when every worker has
// left the batch, so nothing of it is touched once run has returned. The
// batch's description is written under the mutex before the workers are
// woken, which is what makes it visible to them.
#include "gfx/soft/soft_scene.h"

SoftWorkers::SoftWorkers(int threads)
{
    for (int i = 1; i < threads; ++i)
        workers_.emplace_back(&SoftWorkers::worker_loop, this);
}

SoftWorkers::~SoftWorkers()
{
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

void SoftWorkers::run(int count, Job job, void* user)
{
    if (workers_.empty() || count <= 1) {
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
    wake_.notify_all();
    take_jobs();
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return busy_ == 0; });
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
