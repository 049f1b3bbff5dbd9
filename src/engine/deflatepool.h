// SPDX-License-Identifier: GPL-3.0-or-later
// Deflating pieces of files on worker threads while one thread reads and writes in order.
#pragma once

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

/**
 * A piece of a file: at most a MiB, deflated (raw) by a worker. A piece after the
 * first of a file is deflated with the previous 32 KiB as its dictionary and ends on a byte
 * boundary (sync flush), so the pieces of a file join into one deflate stream.
 */
struct DeflatePiece {
    qsizetype entry = 0;
    bool first = true;
    bool last = true;
    QByteArray input;
    QByteArray dictionary;
    // Filled by a worker.
    QByteArray output;
    quint32 crc = 0;
    bool ok = true;
    std::atomic<bool> done{false};
};

/// Worker threads and the pieces waiting for them; the writer waits on the same lock for the oldest piece.
class DeflatePool
{
public:
    DeflatePool() = default;
    ~DeflatePool();
    DeflatePool(const DeflatePool &) = delete;
    DeflatePool &operator=(const DeflatePool &) = delete;

    /// One worker per core (at most four).
    void start();
    void stop();
    void push(DeflatePiece *p);
    /// Waits at most timeoutMs for p to be finished.
    void waitFor(const DeflatePiece &p, int timeoutMs);

private:
    void workerLoop();

    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_finished;
    std::deque<DeflatePiece *> m_pending;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};
