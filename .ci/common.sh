# Sourced by .ci/run on Debian 12, and by .ci/in-root and .ci/slurm in the Debian 13 root: how CI
# installs what it needs, the same way on both.
export DEBIAN_FRONTEND=noninteractive

# install_packages PACKAGE...: those not installed yet, quietly. apt's lists are brought up to date
# first, once in a run: .ci/slurm inherits from .ci/in-root that it was done.
install_packages() {
  local missing=() package
  for package; do
    [[ $(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) == "install ok installed" ]] || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  if [[ -z ${CI_APT_UPDATED-} ]]; then
    bash .ci/quietly apt-get update
    export CI_APT_UPDATED=1
  fi
  bash .ci/quietly apt-get install -y --no-install-recommends "${missing[@]}"
}

# What the suites, the docs' transcripts (tests/check_docs.py) and doc/measure.sh use, on Debian 12
# and 13 alike: the unversioned LLVM names give each clang its own OpenMP runtime (LLVM 14 on
# Debian 12, 19 on Debian 13), and g++'s Spanish messages come in the locales of its own version.
install_suite_needs() {
  install_packages git cmake ninja-build g++ clang libomp-dev libclang-rt-dev libgtest-dev groff-base \
    python3 valgrind locales
  install_packages "gcc-$(g++ -dumpversion)-locales"
  if [[ $(locale -a) != *es_ES.utf8* ]]; then
    sed -i 's/^# es_ES.UTF-8 UTF-8/es_ES.UTF-8 UTF-8/' /etc/locale.gen
    bash .ci/quietly locale-gen
  fi
}

# doc/measure.sh with a small count, so that it keeps working: it must succeed and print its page.
check_measure() {
  local page
  page=$(bash doc/measure.sh 2) || { echo "doc/measure.sh 2 failed" >&2; return 1; }
  [[ -n $page ]] || { echo "doc/measure.sh 2 printed nothing" >&2; return 1; }
  printf '%s\n' "$page"
}
