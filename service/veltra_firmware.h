// Firmware transfers of the service language: root file system archives for the Linux side and
// firmware images for the slave.
//
// An archive is a gzip-compressed tar file extracted over "/". Nothing is touched before the whole
// archive has been checked by check_archive(); an archive that fails the check is refused and the
// printer carries on as before. Archives carry no signature (the service language has no field for
// one): check_archive() is the one place where a signature check belongs.
#pragma once

#include "veltra_state.h"

#include <cstdint>
#include <string>
#include <vector>

struct ArchiveMember {
    std::string name;
    char type = '0';   // tar type flag: '0' file, '1' hard link, '2' symbolic link, '5' folder
    std::string link;  // target of a link
    uint64_t size = 0;
};

// Reads the whole archive: the gzip stream must be complete and intact (no trailing data but
// zeros), the tar stream must be whole, and no member may have an absolute name, a ".." component,
// be a device node, a FIFO or a type this printer does not extract, or be a link that points
// outside the extraction root (an absolute symbolic link, a relative one that climbs above the
// root, a hard link to such a name). Returns false with the reason in `why`.
bool check_archive(const std::string& path, std::string& why, std::vector<ArchiveMember>* members = nullptr);

// Installs the archive at s.files.archive, already checked: /package moves to /backup, the
// archive is extracted over the root; /backup is restored when the extraction fails and deleted
// only after it succeeded. `before_extract` runs between the two (stopping the printer's
// programs). Returns false (reported) when the extraction failed.
bool install_checked_archive(VeltraState& s, const std::function<void()>& before_extract);

// The job that follows TAR_ENABLE: the whole job file is the archive.
void install_archive_job(VeltraState& s, const std::string& job_path);

// Sends a firmware image to the slave: "/root/engine_cmd G <size>", waits (at most
// ack_timeout_ms) for the acknowledgement file, then writes the image to the block data port and
// reads the slave's one-byte answer. `from_job`: the image is a job file (host_link and the USB
// gadget are stopped too, and brought back afterwards). False (reported) when the slave did not
// take it; the print engine and host link are then brought back.
bool send_slave_firmware(VeltraState& s, const std::string& image, bool from_job);
