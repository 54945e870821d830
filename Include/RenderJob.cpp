#include "RenderJob.h"

#include "BaseRender.h"

CRenderJob::CRenderJob() {}
CRenderJob::~CRenderJob() {}

bool CRenderJob::Write(const void*, int)
{
    return !OutputFailed();
}

void CRenderJob::LogV(int, const char*, va_list) {}

void CRenderJob::Report(Level, const char*) {}

void CRenderJob::PageStarted(int) {}

void CRenderJob::PageFinished(int) {}

void CRenderJob::PreparePage(CBaseRender& render)
{
    render.PreparePage();
}
