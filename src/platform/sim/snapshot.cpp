// The simulated machine as text (Machine::StateLines).
#include <string>
#include <vector>

#include "platform/sim/impl.h"

namespace zp::sim {
namespace {

std::u16string Hex(DWORD value) {
  std::u16string text;
  for (int shift = 28; shift >= 0; shift -= 4) text += u"0123456789ABCDEF"[(value >> shift) & 0xF];
  return text;
}

std::u16string Bytes(const std::vector<BYTE>& data) {
  std::u16string text;
  for (BYTE b : data) text += Hex(b).substr(6);
  return text;
}

void AddKeys(const RegNode& node, const std::u16string& path, std::vector<std::u16string>* lines) {
  lines->push_back(u"key\t" + path + (node.link ? u"\tlink" : u""));
  for (const RegValue& value : node.values)
    lines->push_back(u"value\t" + path + u"\\" + value.name + u"\t" + Hex(value.type) + u"\t" +
                     Bytes(value.data));
  for (const auto& [upper, child] : node.children) AddKeys(*child, path + u"\\" + child->name, lines);
}

void AddFiles(const FsNode& node, const std::u16string& path, std::vector<std::u16string>* lines) {
  std::u16string line = (node.folder ? u"folder\t" : u"file\t") + path + u"\t" + Hex(node.attributes);
  if (!node.folder) line += u"\t" + Bytes(std::vector<BYTE>(node.data.begin(), node.data.end()));
  if (!node.reparseTarget.empty()) line += u"\tjunction " + node.reparseTarget;
  if (node.hive) line += u"\thive";
  lines->push_back(line);
  if (node.hive) AddKeys(*node.hive, u"hive:" + path, lines);
  for (const auto& [upper, child] : node.children) AddFiles(*child, path + u"\\" + child->name, lines);
}

}  // namespace

std::vector<std::u16string> Machine::StateLines() const {
  const Impl& m = *impl_;
  std::vector<std::u16string> lines;
  AddKeys(m.localMachine, u"HKLM", &lines);
  AddKeys(m.users, u"HKU", &lines);
  for (const auto& [letter, drive] : m.drives) AddFiles(*drive, std::u16string(1, letter) + u":", &lines);
  for (const auto& [upper, service] : m.serviceTable)
    lines.push_back(u"service\t" + service.name + u"\t" + Hex(service.state) +
                    (service.markedForDeletion ? u"\tmarked for deletion" : u"") + u"\t" +
                    service.binaryPath);
  for (const auto& [name, instances] : m.wmiNamespaces)
    for (const std::u16string& instance : instances)
      lines.push_back(u"wmi\t" + name + u"\t" + instance);
  for (const NetComponent& component : m.network.components)
    lines.push_back(u"network component " + component.id);
  for (const std::u16string& removed : m.network.removed)
    lines.push_back(u"network component removed " + removed);
  for (const std::u16string& deleted : m.wmi.deletes) lines.push_back(u"wmi deleted " + deleted);
  for (const StartedProcess& process : m.processes)
    lines.push_back(u"started " + process.commandLine);
  for (const ShutdownCall& shutdown : m.shutdowns)
    lines.push_back(u"shutdown " + std::u16string(shutdown.call.begin(), shutdown.call.end()));
  for (const auto& [name, flags] : m.oemInfUninstalls) lines.push_back(u"driver package uninstalled " + name);
  for (const PostedMessage& message : m.posted) lines.push_back(u"posted " + Hex(message.message));
  return lines;
}

}  // namespace zp::sim
