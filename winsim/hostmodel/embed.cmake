# Writes embedded_hosts.cpp: the described hosts of winsim/hostmodel/hosts compiled into libwinsim,
# so a test or tool names a host ("default", "cluster-node") without a file at hand.
#   set(OUT out.cpp) set(HOSTS "a.json|b.json") include(embed.cmake)
string(REPLACE "|" ";" HOSTS "${HOSTS}")
set(body "")
set(names "")
foreach(file ${HOSTS})
  get_filename_component(name ${file} NAME_WE)
  file(READ ${file} text)
  string(APPEND body "    if (name == \"${name}\")\n        return R\"winsimhost(${text})winsimhost\";\n")
  list(APPEND names ${name})
endforeach()
string(REPLACE ";" ", " names "${names}")
file(WRITE ${OUT}.tmp
"// Generated from winsim/hostmodel/hosts/*.json by winsim/hostmodel/embed.cmake; do not edit.
#include \"winsim/hostmodel.h\"

namespace winsim {

std::string EmbeddedHostJson(const std::string &name)
{
${body}    throw HostError(\"no embedded host named '\" + name + \"' (there are: ${names})\");
}

} // namespace winsim
")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
