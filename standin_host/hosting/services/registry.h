// The HostRegistry and the HostDictionary of each entry: what Register
// publishes, kept as given so the host can print and use it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/host_interfaces.h"
#include "standin_host/hosting/services/service_object.h"

struct RegistryEntry {
  struct Value {
    std::string key;
    uint32_t type;
    std::string text;  // type 9: the bytes as given, ANSI code page
    int32_t number;    // type 3
  };
  ServiceObject<HostDictionary, RegistryEntry> dictionary;
  ProblemList* problemList;
  uint32_t value;
  Guid classId;
  Guid interfaceId;
  std::vector<Value> values;
  int32_t references;
};

struct Registry {
  ServiceObject<HostRegistry, Registry> object;
  ProblemList* problemList;
  uint32_t expectedValue;  // the value the host passes to Register
  int32_t references;
  std::vector<std::unique_ptr<RegistryEntry>> entries;
};

void InitRegistry(Registry* registry, ProblemList* problemList);
