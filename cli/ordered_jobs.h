#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace ombri::cli {

// Tasks done on up to a given number of threads, their results handed back on the caller's
// thread one at a time in the order the tasks were added, so that what is printed does not
// depend on which task finished first. At most `window` tasks are waiting, running or finished
// but not yet handed back: add() waits for room, handing back what is ready meanwhile, so a
// long run keeps no more than that in memory. With one thread every task is done by add() on
// the caller's thread. A task that throws has its exception thrown again where its result
// would have been handed back.
template <typename Task, typename Result> class OrderedJobs {
  public:
    // work is given the index of the thread it runs on, from 0 to threads - 1, so that each
    // thread can keep state of its own.
    using Work = std::function<Result(size_t thread, Task& task)>;
    using Emit = std::function<void(Result& result)>;

    OrderedJobs(size_t threads, size_t window, Work work, Emit emit)
        : m_maxThreads(threads < 1 ? 1 : threads),
          m_window(window < m_maxThreads ? m_maxThreads : window), m_work(std::move(work)),
          m_emit(std::move(emit))
    {
    }
    OrderedJobs(const OrderedJobs&) = delete;
    OrderedJobs& operator=(const OrderedJobs&) = delete;
    // Tasks not yet started are dropped; running ones are waited for.
    ~OrderedJobs() { stop(); }

    void add(Task task)
    {
        if (m_maxThreads == 1) {
            Result result = m_work(0, task);
            m_emit(result);
            return;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            emitReady(lock);
            if (m_added - m_emitted < m_window)
                break;
            m_resultReady.wait(lock);
        }
        m_queue.emplace_back(m_added++, std::move(task));
        // Threads are started as the work needs them: a single picture needs one.
        if (m_idle == 0 && m_threads.size() < m_maxThreads)
            startThread();
        m_taskReady.notify_one();
        // A machine out of threads still gets the work done, on the caller's thread.
        if (m_threads.empty())
            runQueuedHere(lock);
    }

    // Waits for every task and hands back the results not yet handed back.
    void finish()
    {
        if (m_maxThreads == 1)
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            emitReady(lock);
            if (m_emitted == m_added)
                break;
            m_resultReady.wait(lock);
        }
        lock.unlock();
        stop();
    }

  private:
    struct Outcome {
        std::optional<Result> result;
        std::exception_ptr error;
    };

    Outcome run(size_t thread, Task& task)
    {
        Outcome outcome;
        try {
            outcome.result.emplace(m_work(thread, task));
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return outcome;
    }

    // Hands back, in order, every result that is next in line; the lock is let go meanwhile so
    // that the threads go on.
    void emitReady(std::unique_lock<std::mutex>& lock)
    {
        for (auto next = m_finished.find(m_emitted); next != m_finished.end();
             next = m_finished.find(m_emitted)) {
            Outcome outcome = std::move(next->second);
            m_finished.erase(next);
            ++m_emitted;
            lock.unlock();
            if (outcome.error)
                std::rethrow_exception(outcome.error);
            m_emit(*outcome.result);
            lock.lock();
        }
    }

    void runQueuedHere(std::unique_lock<std::mutex>& lock)
    {
        while (!m_queue.empty()) {
            auto [sequence, task] = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            Outcome outcome = run(0, task);
            lock.lock();
            m_finished.emplace(sequence, std::move(outcome));
        }
    }

    void startThread()
    {
        const size_t index = m_threads.size();
        try {
            m_threads.emplace_back([this, index] { serve(index); });
        } catch (const std::system_error&) {
            // The threads already running take the tasks.
        }
    }

    void serve(size_t index)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            ++m_idle;
            m_taskReady.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            --m_idle;
            if (m_queue.empty())
                return;
            auto [sequence, task] = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            Outcome outcome = run(index, task);
            lock.lock();
            m_finished.emplace(sequence, std::move(outcome));
            m_resultReady.notify_one();
        }
    }

    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
            m_queue.clear();
            m_taskReady.notify_all();
        }
        for (auto& thread : m_threads)
            thread.join();
        m_threads.clear();
    }

    const size_t m_maxThreads;
    const size_t m_window;
    Work m_work;
    Emit m_emit;

    std::mutex m_mutex;
    std::condition_variable m_taskReady;
    std::condition_variable m_resultReady;
    std::deque<std::pair<size_t, Task>> m_queue;
    std::map<size_t, Outcome> m_finished;
    size_t m_added = 0;
    size_t m_emitted = 0;
    size_t m_idle = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace ombri::cli
