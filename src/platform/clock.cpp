// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/clock.h"

namespace {
const Clock *s_clock = nullptr;
}

QDateTime Clock::now()
{
    return s_clock ? s_clock->currentDateTime() : QDateTime::currentDateTime();
}

void Clock::setInstance(const Clock *clock)
{
    s_clock = clock;
}
