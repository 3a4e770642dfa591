"""(being written)"""
