// SPDX-License-Identifier: GPL-3.0-or-later
// The obfuscation of passwords in job files (not encryption: anyone with the file can read them).
#pragma once

#include <QString>

/// Three decimal digits per character: its 8-bit code rotated right by one bit.
QString encodePassword(const QString &password);

/// The reverse; a trailing group of one or two digits is ignored, an unparsable group counts as 1.
QString decodePassword(const QString &value);
