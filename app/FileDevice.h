// The file:// device scheme's link, confined: a folder the administrator
// allowed (one new file per job, named by the job's id; nothing is
// overwritten) or a character device of a printer kind. The checks of
// CheckFileDevice are made again when the link opens, and what was opened
// is checked once more by its descriptor, so that a folder swapped for a
// symbolic link in between is not written through.
#pragma once

#include <vector>

#include "DeviceUri.h"
#include "Link.h"

namespace bandrill_app {

class CFileLink : public CLink {
public:
    CFileLink(const std::string& uri, std::vector<std::string> allowedDirs);

    std::string Describe() const override;
    // Terminals and Bluetooth serial devices are slow links; a USB
    // printer device, a folder are not.
    bool Paced() const override;
    // The file the last job went to (a folder device).
    const std::string& FilePath() const { return m_file; }

protected:
    int Open() override;
    std::string DroppedText(int err) const override;
    void JobChanged() override;

private:
    std::string m_uri;
    std::vector<std::string> m_allowed;
    FileDevice m_device;
    std::string m_file;
};

// The file name of a job's output in a folder device: "job-ID-NAME.EXT",
// the name cut to 64 bytes of letters, digits, '.', '_' and '-'.
std::string JobFileName(int jobId, const std::string& jobName, const std::string& ext);

} // namespace bandrill_app
