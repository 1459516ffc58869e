#pragma once
// Explorer records of a disk image's caches named from the image's NTFS
// volumes: each volume's MFT gives the ThumbnailCacheId of every file it
// still records, under the volume's GUID (the SYSTEM hive's MountedDevices
// of a Windows installation in the image, or --volume-guid). Run after the
// search index has named the rows: its names come first, and where both
// name a record and disagree, that is reported, never resolved.
#include <string>
#include <vector>

#include "app/cli/cache_report.h"

// The --volume-guid option (may be null); 0, or -1 when it is no GUID
// (reported, a usage error).
int cli_mft_option(const char* volume_guid);

// Names the rows of one cache of an image (other rows are left alone):
// path and name_source "mft" or "mft-deleted". Reports per cache how many
// records were named and by which form of the id.
void cli_mft_name_rows(const std::string& cache, std::vector<ReportRow>* rows);

// Forgets every volume's names (when the images close).
void cli_mft_close();
