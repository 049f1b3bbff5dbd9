// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/deflatepool.h"

#include <algorithm>
#include <chrono>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

namespace {

// ISA-L's level 2: standard deflate, a ratio a little better than zlib's level 3 on text, and
// four times its speed.
constexpr int kLevel = 2;

class Deflater
{
public:
    Deflater()
        : m_levelBuffer(ISAL_DEF_LVL2_DEFAULT)
    {
    }

    void run(DeflatePiece &p)
    {
        p.crc = crc32_gzip_refl(0, reinterpret_cast<const unsigned char *>(p.input.constData()), quint64(p.input.size()));
        isal_zstream zs;
        isal_deflate_init(&zs);
        zs.level = kLevel;
        zs.level_buf = m_levelBuffer.data();
        zs.level_buf_size = quint32(m_levelBuffer.size());
        zs.gzip_flag = IGZIP_DEFLATE;
        zs.end_of_stream = p.last ? 1 : 0;
        // A piece before the last ends on a byte boundary, so that the next one follows it.
        zs.flush = p.last ? NO_FLUSH : SYNC_FLUSH;
        p.ok = p.dictionary.isEmpty()
            || isal_deflate_set_dict(&zs, reinterpret_cast<uint8_t *>(p.dictionary.data()), quint32(p.dictionary.size()))
                == COMP_OK;
        if (!p.ok)
            return;
        // Room for stored blocks of data that does not shrink; more is given when needed.
        p.output.resize(p.input.size() + p.input.size() / 8 + 1024);
        zs.next_in = reinterpret_cast<uint8_t *>(p.input.data());
        zs.avail_in = quint32(p.input.size());
        const int finished = p.last ? ZSTATE_END : ZSTATE_NEW_HDR;
        for (;;) {
            zs.next_out = reinterpret_cast<uint8_t *>(p.output.data()) + zs.total_out;
            zs.avail_out = quint32(p.output.size() - qsizetype(zs.total_out));
            if (isal_deflate(&zs) != COMP_OK) {
                p.ok = false;
                return;
            }
            if (zs.avail_in == 0 && int(zs.internal_state.state) == finished)
                break;
            if (zs.avail_out > 0) {
                p.ok = false; // neither done nor out of room: never seen, but never an endless loop
                return;
            }
            p.output.resize(p.output.size() * 2);
        }
        p.output.resize(qsizetype(zs.total_out));
    }

private:
    std::vector<uint8_t> m_levelBuffer;
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
