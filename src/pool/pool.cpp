#include "pool.hpp"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "pool/cancel.hpp"
#include "pool_size.hpp"

namespace veltrane::pool {

namespace {

constexpr std::size_t STACK_SIZE = 2 * 1024 * 1024;

// The module's thread-local variables live in the static TLS block the loader
// reserves at load time (initial-exec). Left to the default model, each thread's
// copy is allocated on its first use, and a thread that first uses it while the
// workers have exhausted memory makes the loader print "cannot allocate memory
// for thread-local data" and end the process.
VELTRANE_STATIC_TLS thread_local bool on_pool_thread = false;
// Set while this thread waits for a job of its own. Code the interrupt hook runs
// meanwhile (a signal handler) may call back into the module; its jobs run
// inline instead of queueing behind the one this thread is waiting for.
VELTRANE_STATIC_TLS thread_local bool waiting_for_job = false;


// One parallel step. Several may be under way at once (calls from threads that
// released the interpreter lock, beside one that holds it): each submitter waits
// for its own job only, so a submitter waiting for the interpreter lock in its
// interrupt hook can never block another one that holds that lock.
struct Job {
    void (*task)(void*, std::size_t) = nullptr;
    void* context = nullptr;
    std::size_t tasks = 0;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;  // written once, by the thread that sets `failed`
    // Set by the submitter when its interrupt hook says stop; read by the workers
    // between tasks and, through checkpoint(), inside them.
    std::atomic<bool> cancelled{false};
    // Workers inside execute(); guarded by the pool's mutex.
    std::size_t running = 0;

    // No task is left to start: every one was taken, or the job failed or was stopped.
    bool exhausted() const noexcept {
        return next.load(std::memory_order_relaxed) >= tasks || failed.load(std::memory_order_relaxed) ||
               cancelled.load(std::memory_order_relaxed);
    }
};

class Pool {
public:
    explicit Pool(std::size_t threads) : threads_(threads) {}

    // Starts every thread or none: on failure the started ones are told to exit.
    void start() {
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0) throw std::runtime_error("could not start the worker pool");
        pthread_attr_setstacksize(&attr, STACK_SIZE);
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        for (std::size_t i = 0; i < threads_; ++i) {
            pthread_t thread;
            int rc = pthread_create(&thread, &attr, &Pool::thread_main, this);
            if (rc != 0) {
                pthread_attr_destroy(&attr);
                stop_started();
                if (rc == ENOMEM) throw std::bad_alloc();
                throw std::runtime_error("could not start the worker pool: thread " + std::to_string(i + 1) + " of " +
                                         std::to_string(threads_) + " failed to start (" + std::strerror(rc) + ")");
            }
            ++started_;
        }
        pthread_attr_destroy(&attr);
        // Each thread allocates its thread-local storage first thing. Waiting for
        // that here makes sure it happens before the first job, which may use up
        // the memory: the loader aborts the process if it cannot allocate it.
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return prepared_ == started_; });
    }

    std::size_t size() const noexcept { return threads_; }

    void run(Job& job) {
        std::unique_lock<std::mutex> lock(mutex_);
        jobs_.push_back(&job);
        wake_.notify_all();
        const auto finished = [&] { return job.exhausted() && job.running == 0; };
        if (!interrupt_hook_installed()) {
            done_.wait(lock, finished);
        } else {
            // Wake when the hook is due; once it has said stop, only wait.
            waiting_for_job = true;
            while (!finished()) {
                if (job.cancelled.load(std::memory_order_relaxed)) {
                    done_.wait(lock, finished);
                    break;
                }
                const auto due = std::chrono::nanoseconds(nanoseconds_until_interrupt_poll());
                if (done_.wait_for(lock, due, finished)) break;
                lock.unlock();  // the hook may run arbitrary code: hold no pool lock
                const bool stop = poll_interrupt_if_due();
                lock.lock();
                if (stop) job.cancelled.store(true, std::memory_order_relaxed);
            }
            waiting_for_job = false;
        }
        jobs_.erase(std::find(jobs_.begin(), jobs_.end(), &job));
    }

private:
    static void* thread_main(void* self) {
        prepare_thread();
        on_pool_thread = true;
        static_cast<Pool*>(self)->report_prepared();
        static_cast<Pool*>(self)->work();
        return nullptr;
    }

    void report_prepared() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++prepared_;
        done_.notify_all();
    }

    // The oldest job that still has tasks to start, or none.
    Job* next_job() const noexcept {
        for (Job* job : jobs_) {
            if (!job->exhausted()) return job;
        }
        return nullptr;
    }

    void work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            Job* job = nullptr;
            wake_.wait(lock, [&] { return stopping_ || (job = next_job()) != nullptr; });
            if (stopping_) {
                if (--started_alive_ == 0) done_.notify_all();
                return;
            }
            ++job->running;
            lock.unlock();
            execute(*job);
            lock.lock();
            // The submitter may only leave once no worker is inside its job.
            if (--job->running == 0 && job->exhausted()) done_.notify_all();
        }
    }

    static void execute(Job& job) {
        JobCancelScope cancellable(&job.cancelled);
        for (;;) {
            std::size_t i = job.next.fetch_add(1, std::memory_order_relaxed);
            if (i >= job.tasks || job.failed.load(std::memory_order_relaxed) ||
                job.cancelled.load(std::memory_order_relaxed)) {
                break;
            }
            try {
                job.task(job.context, i);
            } catch (...) {
                if (!job.failed.exchange(true)) job.error = std::current_exception();
            }
        }
    }

    void stop_started() {
        std::unique_lock<std::mutex> lock(mutex_);
        stopping_ = true;
        started_alive_ = started_;
        wake_.notify_all();
        // The threads read this object until they leave; wait for them.
        done_.wait(lock, [&] { return started_alive_ == 0; });
        started_ = 0;
    }

    std::size_t threads_;
    std::size_t started_ = 0;
    std::size_t started_alive_ = 0;
    std::size_t prepared_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<Job*> jobs_;  // submitted and not yet finished, oldest first
    bool stopping_ = false;
};

// The live pool. A forked child has none of the parent's threads, so the
// child forgets the parent's pool (leaking it: its locks may be held) and
// builds its own on first use.
std::atomic<Pool*> live_pool{nullptr};
std::mutex* creation_mutex = new std::mutex;

void forget_pool_in_child() {
    live_pool.store(nullptr);
    creation_mutex = new std::mutex;  // the parent's may have been held at fork
}

const char* getenv_wrapper(const char* name) { return std::getenv(name); }

Pool& pool() {
    if (Pool* p = live_pool.load(std::memory_order_acquire)) return *p;
    prepare_thread();
    std::lock_guard<std::mutex> lock(*creation_mutex);
    if (Pool* p = live_pool.load(std::memory_order_acquire)) return *p;
    static std::once_flag atfork_once;
    std::call_once(atfork_once, [] { pthread_atfork(nullptr, nullptr, &forget_pool_in_child); });
    std::size_t threads = static_cast<std::size_t>(choose_thread_count(&getenv_wrapper, &default_thread_count));
    auto* p = new Pool(threads);
    try {
        p->start();
    } catch (...) {
        delete p;
        throw;
    }
    live_pool.store(p, std::memory_order_release);
    return *p;
}

}  // namespace

void prepare_thread() noexcept {
    volatile bool seen = on_pool_thread;
    (void)seen;
    prepare_checkpoints();
    (void)std::uncaught_exceptions();
}

std::size_t thread_count() { return pool().size(); }

std::size_t piece_count(std::size_t items) {
    if (items <= 1) return items;
    // A few pieces per thread lets fast threads take over from slow ones.
    return std::min(items, thread_count() * 4);
}

void run_tasks(std::size_t tasks, void (*task)(void*, std::size_t), void* context) {
    if (tasks == 0) return;
    if (tasks == 1 || on_pool_thread || waiting_for_job) {
        for (std::size_t i = 0; i < tasks; ++i) {
            checkpoint();
            task(context, i);
        }
        return;
    }
    Job job;
    job.task = task;
    job.context = context;
    job.tasks = tasks;
    pool().run(job);
    // A stop requested by the hook wins over a task's failure: the hook has
    // already raised what the caller is to see.
    if (job.cancelled.load(std::memory_order_relaxed)) throw Cancelled{};
    if (job.error) std::rethrow_exception(job.error);
}

}  // namespace veltrane::pool
