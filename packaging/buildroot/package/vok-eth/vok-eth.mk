################################################################################
#
# vok-eth
#
################################################################################

VOK_ETH_VERSION = 1.0
# This BR2_EXTERNAL tree lives in packaging/buildroot of the sources.
VOK_ETH_SITE = $(BR2_EXTERNAL_VOK_ETH_PATH)/../..
VOK_ETH_SITE_METHOD = local

$(eval $(cmake-package))
