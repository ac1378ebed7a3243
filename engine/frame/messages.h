// The system's own messages are written once in UTF-8 in the source and
// shown as Shift-JIS, like every other text of the engine. sjis_message
// converts a UTF-8 string literal (only literals: the cache is keyed by the
// pointer) once and keeps the result for the rest of the run
// (the returned pointer stays valid); a text that does not convert is
// returned as it stands. Any thread.
#pragma once

const char* sjis_message(const char* utf8);
