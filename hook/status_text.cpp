#include "hook/minhook.h"

#define FENDRIX_STATUS_NAME(status)                                                                \
    case status:                                                                                   \
        return #status

const char* WINAPI MH_StatusToString(MH_STATUS status) {
    switch (status) {
        FENDRIX_STATUS_NAME(MH_UNKNOWN);
        FENDRIX_STATUS_NAME(MH_OK);
        FENDRIX_STATUS_NAME(MH_ERROR_ALREADY_INITIALIZED);
        FENDRIX_STATUS_NAME(MH_ERROR_NOT_INITIALIZED);
        FENDRIX_STATUS_NAME(MH_ERROR_ALREADY_CREATED);
        FENDRIX_STATUS_NAME(MH_ERROR_NOT_CREATED);
        FENDRIX_STATUS_NAME(MH_ERROR_ENABLED);
        FENDRIX_STATUS_NAME(MH_ERROR_DISABLED);
        FENDRIX_STATUS_NAME(MH_ERROR_NOT_EXECUTABLE);
        FENDRIX_STATUS_NAME(MH_ERROR_UNSUPPORTED_FUNCTION);
        FENDRIX_STATUS_NAME(MH_ERROR_MEMORY_ALLOC);
        FENDRIX_STATUS_NAME(MH_ERROR_MEMORY_PROTECT);
        FENDRIX_STATUS_NAME(MH_ERROR_MODULE_NOT_FOUND);
        FENDRIX_STATUS_NAME(MH_ERROR_FUNCTION_NOT_FOUND);
    }
    return "(unknown)";
}
