################################################################################
#
# vok-eth
#
################################################################################

VOK_ETH_VERSION = 1.0.0
# This BR2_EXTERNAL tree lives in packaging/buildroot of the sources.
VOK_ETH_SITE = $(BR2_EXTERNAL_VOK_ETH_PATH)/../..
VOK_ETH_SITE_METHOD = local
VOK_ETH_LICENSE = BSD-2-Clause
VOK_ETH_LICENSE_FILES = LICENSE LICENSES/BSD-2-Clause

$(eval $(cmake-package))
