// The channel to the CUPS backend: descriptor 1.
#pragma once

// Writes all length bytes to standard output, continuing after partial and
// interrupted writes, then flushes the stdout stream. After a write has
// failed for good it reports the failure to the scheduler once and writes
// nothing more for the rest of the job. Returns false when nothing more is
// written.
bool CupsWriteOutput(const void* data, int length);

// Whether output has failed in this job; the job then exits with status 1.
bool CupsOutputFailed();

// Descriptor the output goes to; tests may point it elsewhere.
void CupsSetOutputFd(int fd);
void CupsResetOutput();
