#include "amevent.h"

CAMEvent::CAMEvent(BOOL fManualReset, HRESULT* phr)
    : m_hEvent(CreateEventW(nullptr, fManualReset, FALSE, nullptr)) {
  if (!m_hEvent && phr && SUCCEEDED(*phr)) *phr = E_OUTOFMEMORY;
}

CAMEvent::~CAMEvent() {
  if (m_hEvent) CloseHandle(m_hEvent);
}
