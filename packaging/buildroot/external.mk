include $(sort $(wildcard $(BR2_EXTERNAL_VOK_ETH_PATH)/package/*/*.mk))
