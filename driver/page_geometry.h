// Computing the page geometry record from a validated device mode, and the
// page counters it carries from page to page.
#pragma once

#include "platform/types.h"
#include "records/devmode_private.h"
#include "records/page_geometry.h"

struct CommandBinding;

// Fills the record from a validated device mode. The counters 228..238 are
// read, never written; a stale record (or `fresh`) is zeroed first.
void ComputePageGeometry(const Devmode& devmode, PageGeometry* geometry, bool fresh = false);
// Fields 64/68 with one page per sheet, fields 40/44 with more.
SIZEL PageImageSize(const PageGeometry& geometry);
inline bool GeometryIsStale(const PageGeometry& geometry) {
    return (geometry.status & kGeometryValid) == 0;
}
// The page counters at the first band of a page; the record then goes to the
// command library with escape 16002 (when a binding is given).
void BeginGeometryPage(const Devmode& devmode, PageGeometry* geometry, CommandBinding* binding);
void EndGeometryPage(PageGeometry* geometry);
void ResetGeometryCounters(PageGeometry* geometry);
// A reset during a document: carries the page-sequence state from the old
// mode and record to the new ones, and asks the command library for a new
// sheet (escape 16003) when the change needs one.
void CarryGeometry(const Devmode& oldMode, const PageGeometry& oldGeometry, Devmode* newMode,
                   PageGeometry* newGeometry, CommandBinding* binding);
