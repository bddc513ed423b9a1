#include "plugin/module/exports.h"

namespace {

struct FormQuery {
  uint32_t* instanceSize;
  InstanceCreateHook* createHook;
  InstanceDestroyHook* destroyHook;
  uint8_t found;
};

struct InterfaceQuery {
  const Guid* wanted;
  InterfaceCreator creator;
};

struct InfoCursor {
  uint32_t count;
  ClassInfoRecord* next;
};

Status FormVisitor(const Guid*, uint32_t, uint32_t instanceSize, InstanceCreateHook createHook,
                   InstanceDestroyHook destroyHook, void* userData) {
  FormQuery* query = static_cast<FormQuery*>(userData);
  *query->instanceSize = instanceSize;
  *query->createHook = createHook;
  *query->destroyHook = destroyHook;
  query->found = 1;
  return 1;  // the first class visited answers
}

Status InterfaceLookupVisitor(const Guid*, uint32_t, const Guid* interfaceId, uint32_t,
                              InterfaceCreator creator, void* userData) {
  InterfaceQuery* query = static_cast<InterfaceQuery*>(userData);
  if (GuidEqual(interfaceId, query->wanted) == 0) return 0;
  query->creator = creator;
  return 1;
}

void WriteRecord(InfoCursor* cursor, const Guid* classId, uint32_t classVersion,
                 const Guid* interfaceId, uint32_t interfaceVersion) {
  ++cursor->count;
  if (cursor->next == nullptr) return;  // counting walk
  cursor->next->classId = *classId;
  cursor->next->classVersion = classVersion;
  cursor->next->interfaceId = *interfaceId;
  cursor->next->interfaceVersion = interfaceVersion;
  ++cursor->next;
}

Status ClassInfoVisitor(const Guid* classId, uint32_t classVersion, uint32_t, InstanceCreateHook,
                        InstanceDestroyHook, void* userData) {
  WriteRecord(static_cast<InfoCursor*>(userData), classId, classVersion, &IID_IClassFactory, 1);
  return 0;
}

Status InterfaceInfoVisitor(const Guid* classId, uint32_t classVersion, const Guid* interfaceId,
                            uint32_t interfaceVersion, InterfaceCreator, void* userData) {
  WriteRecord(static_cast<InfoCursor*>(userData), classId, classVersion, interfaceId,
              interfaceVersion);
  return 0;
}

}  // namespace

extern "C" Status PLUGIN_CALL DllCanUnloadNow() {
  return LiveObjectCount == 0 ? STATUS_OK : ERR_IN_USE;
}

extern "C" Status PLUGIN_CALL DllGetClassForm(const Guid* classId, uint32_t* instanceSize,
                                              InstanceCreateHook* createHook,
                                              InstanceDestroyHook* destroyHook) {
  FormQuery query = {instanceSize, createHook, destroyHook, 0};
  EnumerateClasses(classId, FormVisitor, nullptr, &query);
  return query.found != 0 ? STATUS_OK : ERR_NO_CLASS;
}

extern "C" Status PLUGIN_CALL DllGetClassInfo(HostAllocator* allocator, ClassInfoRecord** table) {
  InfoCursor cursor = {0, nullptr};
  EnumerateClasses(nullptr, ClassInfoVisitor, InterfaceInfoVisitor, &cursor);
  uint32_t bytes = (cursor.count + 1) * sizeof(ClassInfoRecord);
  ClassInfoRecord* block = static_cast<ClassInfoRecord*>(
      MethodAt<AllocateFn>(allocator, kAllocatorAllocate)(allocator, bytes));
  *table = block;
  if (block == nullptr) return ERR_OUT_OF_MEMORY;
  cursor.next = block;
  EnumerateClasses(nullptr, ClassInfoVisitor, InterfaceInfoVisitor, &cursor);
  // The terminator's version fields stay as the allocator delivered them.
  cursor.next->classId = GUID_NULL;
  cursor.next->interfaceId = GUID_NULL;
  return STATUS_OK;
}

extern "C" Status PLUGIN_CALL DllGetClassObject(const Guid*, const Guid*, void**) {
  return ERR_NO_CLASS;
}

extern "C" Status PLUGIN_CALL DllGetInterface(HostObjectHeader* instance, const Guid* classId,
                                              const Guid* interfaceId, InterfaceObject** out) {
  InterfaceQuery query = {interfaceId, nullptr};
  EnumerateClasses(classId, nullptr, InterfaceLookupVisitor, &query);
  if (query.creator == nullptr) return ERR_NO_INTERFACE;
  return query.creator(instance, out);
}
