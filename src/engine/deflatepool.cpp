// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/deflatepool.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <zlib.h>

namespace {

class Deflater
{
public:
    Deflater()
    {
        std::memset(&m_zs, 0, sizeof m_zs);
        m_ready = deflateInit2(&m_zs, 3, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Deflater()
    {
        if (m_ready)
            deflateEnd(&m_zs);
    }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    void run(DeflatePiece &p)
    {
        p.crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(p.input.constData()), uInt(p.input.size())));
        p.ok = m_ready && deflateReset(&m_zs) == Z_OK;
        if (p.ok && !p.dictionary.isEmpty())
            p.ok = deflateSetDictionary(&m_zs, reinterpret_cast<const Bytef *>(p.dictionary.constData()),
                                        uInt(p.dictionary.size()))
                == Z_OK;
        if (!p.ok)
            return;
        const int flush = p.last ? Z_FINISH : Z_SYNC_FLUSH;
        p.output.resize(qsizetype(deflateBound(&m_zs, uLong(p.input.size()))) + 64);
        m_zs.next_in = reinterpret_cast<Bytef *>(p.input.data());
        m_zs.avail_in = uInt(p.input.size());
        qsizetype produced = 0;
        for (;;) {
            m_zs.next_out = reinterpret_cast<Bytef *>(p.output.data() + produced);
            m_zs.avail_out = uInt(p.output.size() - produced);
            const int rc = deflate(&m_zs, flush);
            produced = p.output.size() - qsizetype(m_zs.avail_out);
            if (rc == Z_STREAM_END || (flush == Z_SYNC_FLUSH && rc == Z_OK && m_zs.avail_out > 0 && m_zs.avail_in == 0))
                break;
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                p.ok = false;
                return;
            }
            p.output.resize(p.output.size() * 2);
        }
        p.output.resize(produced);
    }

private:
    z_stream m_zs;
    bool m_ready = false;
};


} // namespace

DeflatePool::~DeflatePool()
{
    stop();
}

void DeflatePool::start()
{
    m_stopping = false;
    const int workers = std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
    for (int i = 0; i < workers; ++i)
        m_workers.emplace_back([this] { workerLoop(); });
}

void DeflatePool::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_work.notify_all();
    for (std::thread &t : m_workers)
        t.join();
    m_workers.clear();
}

void DeflatePool::push(DeflatePiece *p)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.push_back(p);
    }
    m_work.notify_one();
}

void DeflatePool::workerLoop()
{
    Deflater deflater;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
        if (m_stopping)
            return;
        DeflatePiece *p = m_pending.front();
        m_pending.pop_front();
        lock.unlock();
        deflater.run(*p);
        lock.lock();
        p->done.store(true, std::memory_order_release);
        m_finished.notify_all();
    }
}

void DeflatePool::waitFor(const DeflatePiece &p, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_finished.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&p] { return p.done.load(std::memory_order_acquire); });
}
